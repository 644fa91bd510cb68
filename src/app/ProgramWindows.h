#pragma once

#include "app/Station.h"
#include "app/TForm1.h"
#include "app/TForm3.h"
#include "commands/TFormDel.h"
#include "journal/TFormJournal.h"
#include "link/TForm2.h"
#include "shared/OperatorMessages.h"
#include "web/TFormWeb.h"

#include <QString>

#include <memory>

// The program's windows over the station, made in their start-up order and introduced to
// the main window. The web window looks for its lists in `workingDirectory` and switches the
// web server on; the journal window exists when the station keeps a journal. Only the main
// window is shown, by whoever owns them.
struct ProgramWindows {
    ProgramWindows(Station& station, OperatorMessages& messages, const QString& workingDirectory)
        : form1(station, messages), form2(station.terminal(), messages, &form1), form3(&form1),
          formWeb(station.web(), messages, workingDirectory, &form1), formDel(&form1) {
        form1.setWindows(&form2, &form3, &formDel);
        form1.setWebWindow(&formWeb);
        if (OperatorJournal* journal = station.journal()) {
            formJournal = std::make_unique<TFormJournal>(*journal, messages, &form1);
            form1.setJournalWindow(formJournal.get());
        }
    }

    TForm1 form1;
    TForm2 form2;
    TForm3 form3;
    TFormWeb formWeb;
    TFormDel formDel;
    std::unique_ptr<TFormJournal> formJournal;
};
