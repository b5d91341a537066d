#pragma once
// The mark of a running copy of our programs, which the setup program and the
// uninstaller look for before they replace or remove anything (a running
// program's file can be neither): a named mutex in the global namespace, so
// that copies in every session are seen, held until the process ends.
// tolm-upgrade.exe and tolm-upgrade-cli.exe take it first thing.
namespace tolm {

inline constexpr const wchar_t* kProgramMutexName = L"Global\\TolmUpgradeProgram";

// Takes the mark; the handle is never closed, so it lasts as long as the process.
void MarkProgramRunning();

}  // namespace tolm
