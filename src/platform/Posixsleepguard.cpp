// The sleep and shutdown guard on Linux: an inhibitor lock of logind over
// the system D-Bus, spoken through libdbus when the build found it. libdbus
// is linked rather than loaded at run time so that the Debian package's
// dependencies, computed from the programs, name it; a build without it
// holds nothing.
#include "platform/Sleepguard.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#ifdef TOLM_HAVE_DBUS
#include <dbus/dbus.h>
#endif

namespace tolm {

struct TSleepGuard::TLock {
    int fd = -1;  // logind's end of the lock, while held
};

namespace {

#ifdef TOLM_HAVE_DBUS
constexpr const char* kStandardSystemBus = "unix:path=/var/run/dbus/system_bus_socket";

// A message call on the bus and its answer, waited for at most the guard's
// time-out; null when it failed or got no answer.
DBusMessage* Call(DBusConnection* bus, DBusMessage* call) {
    if (!call) return nullptr;
    DBusError error;
    dbus_error_init(&error);
    DBusMessage* reply =
        dbus_connection_send_with_reply_and_block(bus, call, TSleepGuard::kAnswerTimeoutMs, &error);
    dbus_message_unref(call);
    dbus_error_free(&error);
    return reply;
}

// Asks logind for the lock; its descriptor, or -1. A private connection of
// our own: the shared one of libdbus would end the program when the bus
// goes away, and its registration waits up to 25 s for an answer.
int AskLogind() {
    const char* given = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    const std::string address = given && *given ? given : kStandardSystemBus;
    DBusError error;
    dbus_error_init(&error);
    DBusConnection* bus = dbus_connection_open_private(address.c_str(), &error);
    dbus_error_free(&error);
    if (!bus) return -1;
    dbus_connection_set_exit_on_disconnect(bus, FALSE);

    int fd = -1;
    // The bus takes no other call before its greeting.
    if (DBusMessage* hello = Call(bus, dbus_message_new_method_call("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                                     "org.freedesktop.DBus", "Hello"))) {
        dbus_message_unref(hello);
        DBusMessage* inhibit = dbus_message_new_method_call("org.freedesktop.login1", "/org/freedesktop/login1",
                                                            "org.freedesktop.login1.Manager", "Inhibit");
        const char* what = "sleep:shutdown";
        const char* who = program_invocation_short_name;
        const char* why = TSleepGuard::kReason;
        const char* mode = "block";
        if (inhibit && !dbus_message_append_args(inhibit, DBUS_TYPE_STRING, &what, DBUS_TYPE_STRING, &who,
                                                 DBUS_TYPE_STRING, &why, DBUS_TYPE_STRING, &mode,
                                                 DBUS_TYPE_INVALID)) {
            dbus_message_unref(inhibit);
            inhibit = nullptr;
        }
        if (DBusMessage* reply = Call(bus, inhibit)) {
            int got = -1;
            dbus_error_init(&error);
            if (dbus_message_get_args(reply, &error, DBUS_TYPE_UNIX_FD, &got, DBUS_TYPE_INVALID)) fd = got;
            dbus_error_free(&error);
            dbus_message_unref(reply);
        }
    }
    dbus_connection_close(bus);
    dbus_connection_unref(bus);
    // A child process (a port's run of the station) must not keep the lock
    // after this one gave it back.
    if (fd >= 0) fcntl(fd, F_SETFD, FD_CLOEXEC);
    return fd;
}
#else
int AskLogind() { return -1; }
#endif

}  // namespace

TSleepGuard::TSleepGuard() : lock_(std::make_unique<TLock>()) {}

TSleepGuard::~TSleepGuard() { Release(); }

bool TSleepGuard::Hold() {
    if (lock_->fd < 0) lock_->fd = AskLogind();
    return lock_->fd >= 0;
}

void TSleepGuard::Release() {
    if (lock_->fd < 0) return;
    close(lock_->fd);
    lock_->fd = -1;
}

bool TSleepGuard::Held() const { return lock_->fd >= 0; }

}  // namespace tolm
