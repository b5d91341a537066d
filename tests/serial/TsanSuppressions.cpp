// Thread-sanitizer suppressions for this test binary.
//
// Handing a call to the main thread goes through Qt's event queue, whose lock
// lives in Qt's own (uninstrumented) code, so the sanitizer cannot see that
// the data a thread prepares for the call is ready before the main thread runs
// it, and now and then reports the hand-off itself as a race. The patterns are
// anchored to the hand-off functions' own frames (not the lambdas they run),
// so a race inside a call that runs on the main thread is still reported.
extern "C" const char* __tsan_default_suppressions() {
    return "race:^tolm::PostToMainThread(\n"
           "race:^tolm::TThread::Synchronize(\n"
           "race:^tolm::MessageBox(\n"
           "race:^QMetaObject::invokeMethod\n"
           "race:^_ZN11QMetaObject12invokeMethod\n";
}
