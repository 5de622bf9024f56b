// The record of every update the window runs, when Settings.ini names a log (LogFile=):
// the same JSON line that tarnwick-cli update --log writes.
#include <optional>

#include "comport/port_list.h"
#include "station/attempt_record.h"
#include "station/station_files.h"
#include "system_text.h"
#include "window_behaviour.h"

namespace tarnwick {

void TWindowBehaviour::RunRecordedUpdate() {
    if (AttemptLog.empty()) {
        Bootloader.RunUpdate();
        return;
    }
    const std::string typedName = View.Text(TControl::FilenameInEdit);
    TRecordPlan plan;
    plan.LogFile = AttemptLog;
    plan.Station = HostName();
    plan.ImageFile = typedName;
    try {
        plan.ImageSha256 = FileSha256(Utf8ToPath(typedName));
    } catch (const EStation&) {
        // The image in memory is what goes out; the record says the file was unreadable.
        plan.ImageSha256.clear();
    }
    std::optional<TAttemptRecorder> recorder;
    recorder.emplace(Bootloader, plan, PortNameOfEntry(View.Text(TControl::ComComboBox)), Image,
                     HighestAddress);
    const TUpdateOutcome outcome = Bootloader.RunUpdate();
    // A run that stopped before the port (no box ticked, No to the warning) is no attempt.
    const bool attempted = recorder->Attempted();
    const TAttempt attempt = recorder->Finish(outcome);
    recorder.reset();
    if (!attempted)
        return;
    try {
        AppendAttempt(plan, attempt);
    } catch (const EStation& e) {
        ReportMessage(e.what(), true, false, true);
    }
}

}  // namespace tarnwick
