#pragma once

#include "Fakes.h"
#include "SimulatedExchange.h"
#include "app/Station.h"
#include "app/TForm1.h"
#include "app/TForm3.h"
#include "commands/TFormDel.h"
#include "dispatch/Terminal.h"
#include "link/PortDevice.h"
#include "link/TForm2.h"
#include "shared/Vars.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTest>
#include <QTimer>

// The main window and the windows created after it over a station without a journal, on a
// pseudo-terminal with the simulated exchange at the far end (which answers every command
// with a prompt), and with message boxes and the font dialog replaced by recorders.
struct WindowRig {
    sim::SimulatedExchange exchange;
    Vars vars;
    RecordingMessages messages;
    std::unique_ptr<Station> station;
    std::unique_ptr<TForm1> form1;
    std::unique_ptr<TForm2> form2;
    std::unique_ptr<TForm3> form3;
    std::unique_ptr<TFormDel> formDel;

    WindowRig() {
        if (!exchange.start())
            qFatal("simulator: %s", exchange.errorText().c_str());
        // Through Qt's lock: QtTest's watchdog thread reads the environment as a test
        // function starts, and a plain setenv can move the array under that read.
        qputenv("KORVANT_COM1", QByteArray::fromStdString(exchange.linePath()));
        station = std::make_unique<Station>(vars, messages,
                                            Station::Settings{PortDevice::create(), {}, {}, {}});
        form1 = std::make_unique<TForm1>(*station, messages);
        form2 = std::make_unique<TForm2>(form1->terminal(), messages, form1.get());
        form3 = std::make_unique<TForm3>(form1.get());
        formDel = std::make_unique<TFormDel>(form1.get());
        form1->setWindows(form2.get(), form3.get(), formDel.get());
    }
    ~WindowRig() { form1->close(); }

    // Shows the main window and waits until it is the active window.
    bool show() {
        form1->show();
        form1->activateWindow();
        return QTest::qWaitForWindowActive(form1.get());
    }
    bool openPort() { return form1->terminal().OpenComPort(QStringLiteral("Com1"), 1); }

    // Everything the exchange has received, once `count` commands have arrived and their
    // replies have been handled (the window thread runs meanwhile).
    QByteArray wire(int count = 1) {
        const bool arrived = QTest::qWaitFor([&] {
            return exchange.commandsReceived() >= count &&
                   !form1->terminal().dispatcher().commandInProgress() &&
                   form1->terminal().queue().count() == 0;
        });
        return arrived ? QByteArray::fromStdString(exchange.received()) : QByteArray("(nothing)");
    }

    // Answers the next modal window (the confirmation, the About box) with a click on the
    // button of that name, once it is shown.
    void answerModal(const char* button) {
        QTimer::singleShot(0, form1.get(), [button] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* target =
                    modal ? modal->findChild<QAbstractButton*>(QLatin1String(button)) : nullptr)
                target->click();
        });
    }
};
