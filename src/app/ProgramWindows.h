#pragma once

#include "SerialDevice.h"
#include "TForm1.h"
#include "TForm2.h"
#include "TForm3.h"
#include "TFormDel.h"
#include "TFormWeb.h"
#include "Terminal.h"

#include <QString>

#include <memory>

class OperatorMessages;
struct Vars;

// The program's windows, made in their start-up order and introduced to the main window.
// The web window looks for its lists and pages in `workingDirectory` and starts the web
// server as `http` says. Only the main window is shown, by whoever owns them.
struct ProgramWindows {
    ProgramWindows(Vars& vars, OperatorMessages& messages, std::unique_ptr<SerialDevice> device,
                   const QString& workingDirectory, const HttpSettings& http)
        : form1(vars, messages, std::move(device)), form2(form1.terminal(), messages, &form1),
          form3(&form1),
          formWeb(form1.terminal().dispatcher(), vars, messages, workingDirectory, http, &form1),
          formDel(&form1) {
        form1.setWindows(&form2, &form3, &formDel);
        form1.setWebWindow(&formWeb);
    }

    TForm1 form1;
    TForm2 form2;
    TForm3 form3;
    TFormWeb formWeb;
    TFormDel formDel;
};
