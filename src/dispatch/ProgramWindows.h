#pragma once

#include "SerialDevice.h"
#include "TForm1.h"
#include "TForm2.h"
#include "TForm3.h"
#include "TFormDel.h"
#include "Terminal.h"

#include <memory>

class OperatorMessages;
struct Vars;

// The program's windows, made in their start-up order and introduced to the main window.
// Only the main window is shown, by whoever owns them.
struct ProgramWindows {
    ProgramWindows(Vars& vars, OperatorMessages& messages, std::unique_ptr<SerialDevice> device)
        : form1(vars, messages, std::move(device)), form2(form1.terminal(), &form1), form3(&form1),
          formDel(&form1) {
        form1.setWindows(&form2, &form3, &formDel);
    }

    TForm1 form1;
    TForm2 form2;
    TForm3 form3;
    TFormDel formDel;
};
