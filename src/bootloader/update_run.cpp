// The update run ("Update starten!"): the steps of the protocol in their fixed order, every
// result code turned into a German message, and the closing steps on every path.
#include <cstdio>
#include <exception>
#include <stdexcept>

#include "bootloader/bootloader.h"
#include "bootloader/line_rates.h"
#include "bootloader/link_time.h"
#include "bootloader/timer_resolution.h"
#include "comport/port_access_hint.h"
#include "comport/port_list.h"

namespace tarnwick {

namespace {

const std::string NewParagraph = "\n\r\n\r";

const std::string WarningQuestion =
    "Warnung: Die Aktualisierung der Firmware kann nicht mehr rückgängig gemacht werden. Im "
    "Fehlerfall kann das Gerät beschädigt werden." +
    NewParagraph + "Update wirklich durchführen?";
const std::string VerifyQuestion =
    "Hinweise: Um die Funktionssicherheit zu erhöhen, sollte die geschrieben Software überprüft "
    "werden." +
    NewParagraph + "Jetzt überprüfen?";

const char* const CancelledText = "Abbruch durch Benutzer";
const char* const LineSpeedMessage = "Übertragung: schnell (Tarnwick-Bootloader)";

// Why Port could not be opened, in the user's words: which port, the component's own
// (English) detail for support, and for a port refused for lack of permission what to
// do about it, which the bare message does not say.
std::string OpenErrorText(const EComPort& Error, const std::string& Port) {
    std::string text =
        "Der Port \"" + Port + "\" kann nicht geöffnet werden (" + Error.what() + ")";
    const auto* portError = dynamic_cast<const EComPortExt*>(&Error);
    if (portError != nullptr && portError->ErrorCode() == 1) {
        const std::string hint = PortAccessHint(Port, portError->WindowsError());
        if (!hint.empty())
            text += "\n" + hint;
    }
    return text;
}

}  // namespace

// ---------------------------------------------------------------------- update run

const std::string& UpdateWarningQuestion() {
    return WarningQuestion;
}

const std::string& VerifyOfferQuestion() {
    return VerifyQuestion;
}

std::string TBootloader::DurationText(std::int64_t Milliseconds) {
    const std::int64_t seconds = Milliseconds / 1000;
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    return text;
}

void TBootloader::Report(const std::string& Text, bool ShowBox, bool ToInfo, bool ToLog) {
    if (ToLog)
        LastLogText = Text;
    Owner.ReportMessage(Text, ShowBox, ToInfo, ToLog);
}

TUpdateOutcome TBootloader::RunUpdate() {
    TUpdateOutcome outcome;
    bool program = Owner.ProgramTicked();
    bool verify = Owner.VerifyTicked();
    if (!program && !verify) {
        Owner.ShowNotice("Der Baustein musst mindestens programmiert oder überprüft werden.");
        return outcome;
    }
    outcome.Started = true;
    LineSpeedTaken = false;
    const TFineTimerScope fineTimer;
    const std::int64_t startTime = TickCount();
    LastLogText.clear();
    DeviceVersion.clear();
    DeviceSignature.clear();
    UpdateRunning = true;
    Owner.SetStayOnTop(true);
    Owner.BeginWaitCursor();
    Owner.SetStartButton(false, "Bitte warten!");
    Owner.SetInputsEnabled(false);
    Owner.ClearInfo();
    for (const TProgressBar bar : {pbConnect, pbProgram, pbVerify, pbBuffer})
        SetProgress(bar, 0);
    Owner.SetCancelEnabled(false);

    try {
        if (Owner.AskYesNo(WarningQuestion)) {
            Phase(TUpdatePhase::Waiting);
            if (PowerCycle) {
                Owner.ShowNotice(
                    "Schalten Sie nun das Gerät aus und warten Sie, bis die Software Sie zum "
                    "Wiedereinschalten auffordert.");
            }
            const std::string portName = PortNameOfEntry(Owner.PortText());
            ComPort.SetPort(portName);
            SetLineRate(ComPort, Owner.BaudText());
            try {
                ComPort.Open();
            } catch (const EComPort& e) {
                throw std::runtime_error(OpenErrorText(e, portName));
            }
            if (PowerCycle) {
                Pause(3000);
                Owner.FlashHint(true, "Gerät wieder einschalten!", 500);
                Pause(1000);
            }

            SetProgress(pbConnect, 1);
            Owner.SetCancelEnabled(true);
            CancelRequested = false;
            int result = Connect();
            while (result == -1 && ConnectUntilAnswer && !PowerCycle)
                result = Connect();
            const std::int64_t rounds =
                static_cast<std::int64_t>(MaxConnectAttempts) *
                    (static_cast<std::int64_t>(Owner.PasswordText().size()) + 1) +
                1;
            SetProgress(pbConnect, ClampToInt(rounds));
            Owner.SetCancelEnabled(false);
            if (result == 1) {
                outcome.Connected = true;
                ConnectedSteps(outcome, program, verify);
            } else {
                std::string text;
                if (result == -3) {
                    text = CancelledText;
                    outcome.Cancelled = true;
                } else if (result == -2) {
                    text = "Zeitüberschreitung beim Senden";
                } else if (result == -1) {
                    text = "Maximale Anzahl Verbindungsversuche (" +
                           std::to_string(MaxConnectAttempts) + ") überschritten";
                } else {
                    text = "Fehler beim Herstellen der Verbindung";
                }
                Report(text, true, false, true);
            }
        }
    } catch (const std::exception& e) {
        outcome.Error = true;
        Report(std::string("Fehler: ") + e.what(), true, false, true);
    }

    Phase(TUpdatePhase::Closing);
    // Closing steps: reached by every run that got past the first check, also after an
    // error, so the port is closed and the inputs come back.
    try {
        // Closed whatever Close meets: a port left open would be taken as open by the
        // next run, which would then write to the dead device.
        ComPort.ForceClose();
    } catch (const std::exception& e) {
        outcome.Error = true;
        Report(std::string("Fehler: ") + e.what(), true, false, true);
    }
    Owner.SetStartButton(true, "Update starten");
    Owner.SetInputsEnabled(true);
    for (const TProgressBar bar : {pbConnect, pbProgram, pbVerify, pbBuffer})
        SetProgress(bar, 0);
    UpdateRunning = false;
    LineSpeedTaken = false;
    Owner.SetStayOnTop(false);
    Owner.SetCancelEnabled(false);
    Owner.EndWaitCursor();
    Report("Gesamtdauer: " + DurationText(TickCount() - startTime), false, true, false);
    Owner.FlashHint(false, "", 500);
    outcome.Message = LastLogText;
    return outcome;
}

void TBootloader::ConnectedSteps(TUpdateOutcome& Outcome, bool Program, bool Verify) {
    bool program = Program;  // cleared by failures
    bool verify = Verify;
    bool sendSuccess = false;
    auto failure = [this](const std::string& Text) { Report(Text, true, false, true); };

    Phase(TUpdatePhase::Connected);
    Owner.FlashHint(true, "Update läuft", 500);
    if (OneWireMode) {
        Report("Verbunden: 1-Draht-Modus", false, true, false);
        Owner.ShowNotice("Dieser Modus wurde noch nicht getestet!!!");
    } else {
        Report("Verbunden: 2-Draht-Modus", false, true, false);
    }
    CrcEnabled = false;
    CheckLinkCrc();
    StepProgress(pbConnect);
    Report(CrcEnabled ? "CRC-Check: aktiviert" : "CRC-Check: deaktiviert", false, true, false);

    // Each stage runs only while the previous ones passed; all end in the closing commands.
    bool go = true;
    const bool deviceOk = ReadDeviceInfo();
    // Up to here the run is the paced one, to the byte and the millisecond; only a device
    // that said in every reply that it keeps up gets the rest at line speed.
    if (AutoLineSpeed && TarnwickDevice && BytePacing > 0) {
        LineSpeedTaken = true;
        Report(LineSpeedMessage, false, true, false);
    }
    if (!deviceOk) {
        Report("Baustein-Informationen fehlerhaft/Baustein nicht unterstützt", false, false, true);
        go = false;
    }
    // The last byte of an image ending at HighestAddress lies at that address, so it must
    // be below the flash size. The message counts the bytes the image spans, from address 0.
    if (go && (HighestAddress >= FlashSize || Image == nullptr ||
               static_cast<std::size_t>(HighestAddress) >= Image->size())) {
        failure("Die ausgewählte Datei (" + std::to_string(std::int64_t{HighestAddress} + 1) +
                " Byte) überschreitet den Speicherbereich des Controllers (" +
                std::to_string(FlashSize) + " Byte)");
        go = false;
    }
    if (go) {
        const int k = CheckLinkCrc();
        if (k == -1) {
            failure("CRC-Prüfsumme stimmt nicht überein");
            go = false;
        } else if (k != 1 && k != -2) {
            failure("Prüfsummenfehler");
            go = false;
        } else {
            if (CrcEnabled)
                Report("CRC-Prüfsumme OK", false, true, false);
            Owner.SetCancelEnabled(true);
            CancelRequested = false;
        }
    }
    if (go) {
        if (program) {
            Phase(TUpdatePhase::Programming);
            const int r = ProgramFlash();
            SetProgress(pbBuffer, ClampToInt(BufferSize));
            if (r == 1) {
                Report("Programmieren erfolgreich beendet", false, false, true);
                if (!verify && Owner.AskYesNo(VerifyQuestion))
                    verify = true;
            } else {
                program = false;
                verify = false;
                if (r == -3) {
                    Outcome.Cancelled = true;
                    failure(CancelledText);
                } else if (r == -1) {
                    failure("Baustein reagiert nicht");
                } else {
                    failure("Programmieren fehlgeschlagen");
                }
            }
        }
        CancelRequested = false;
        if (verify) {
            Phase(TUpdatePhase::Verifying);
            const int w = VerifyFlash();
            if (w == -1) {
                Report("Überprüfen nicht möglich (nicht implementiert)", false, false, true);
            } else if (w >= 0) {
                Report("Gespeichertes Programm korrekt übertragen", false, false, true);
            } else {
                program = false;
                verify = false;
                if (w == -4) {
                    Outcome.Cancelled = true;
                    failure(CancelledText);
                } else if (w == -3) {
                    failure("Baustein reagiert nicht");
                } else if (w == -2) {
                    failure("Gespeichertes Programm stimmt nicht mit Datei überein");
                } else {
                    failure("Fehler beim Überprüfen");
                }
            }
            Owner.SetCancelEnabled(false);
        }
        if (program || verify) {
            const int k = CheckLinkCrc();
            if (k == 1 || k == -2) {
                if (CrcEnabled)
                    Report("CRC-Prüfsumme OK", false, true, false);
                sendSuccess = true;
            } else if (k == -1) {
                failure("CRC-Prüfsumme stimmt nicht überein");
            } else {
                failure("Prüfsummenfehler");
            }
        }
    }

    SendCommand(EndCode, CommandPacing());
    SendCommand(PrefixByte, CommandPacing());
    if (sendSuccess) {
        SendCommand(CmdSuccess, CommandPacing());
        Outcome.SuccessSent = true;
    }
    // At line speed the last byte has had no window of its own, and closing the port drops
    // what is still unsent (the event thread purges at its end); a device that reads the line
    // late gets the window a paced run gives it.
    if (CommandPacing() == 0)
        Pause(ByteTimeout);
}

}  // namespace tarnwick
