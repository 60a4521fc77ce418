#pragma once

class TfmMain;

// Exit statuses of the unattended mode.
namespace exitstatus {
constexpr int success = 0;
constexpr int error = 1;            // an error outside the checks, the extraction and the registry writes
constexpr int usage = 2;            // command line, log file or display
constexpr int checkFailed = 3;      // the installation failed a check before anything changed
constexpr int extractionFailed = 4; // the archive is missing or could not be extracted
constexpr int registryFailed = 5;   // the registry refused the new version
constexpr int alreadyRunning = 6;   // another updater is extracting into the same folder
} // namespace exitstatus

// Runs the window's start-up and the update command once, without showing the window; every log line
// goes to standard output as it is added. Returns the exit status.
int runUnattended(TfmMain& window);
