#pragma once

#include "OperatorJournal.h"
#include "OperatorMessages.h"
#include "SerialDevice.h"
#include "TForm1.h"
#include "TForm2.h"
#include "TForm3.h"
#include "TFormDel.h"
#include "TFormJournal.h"
#include "TFormWeb.h"
#include "Terminal.h"

#include <QString>

#include <memory>

struct Vars;

// The program's windows, made in their start-up order and introduced to the main window.
// The web window looks for its lists and pages in `workingDirectory` and starts the web
// server as `http` says; the terminal reports to `journal`, whose faults the operator is
// told of in a message box. Only the main window is shown, by whoever owns them.
struct ProgramWindows {
    ProgramWindows(Vars& vars, OperatorMessages& messages, std::unique_ptr<SerialDevice> device,
                   const QString& workingDirectory, const HttpSettings& http,
                   OperatorJournal& journal)
        : form1(vars, messages, std::move(device), journal),
          form2(form1.terminal(), messages, &form1), form3(&form1),
          formWeb(form1.terminal().dispatcher(), vars, messages, workingDirectory, http, journal,
                  &form1),
          formDel(&form1), formJournal(journal, messages, &form1) {
        form1.setWindows(&form2, &form3, &formDel);
        form1.setWebWindow(&formWeb);
        form1.setJournalWindow(&formJournal);
        QObject::connect(&journal, &OperatorJournal::trouble, &form1,
                         [&messages](const QString& text) { messages.failure(text); });
    }

    TForm1 form1;
    TForm2 form2;
    TForm3 form3;
    TFormWeb formWeb;
    TFormDel formDel;
    TFormJournal formJournal;
};
