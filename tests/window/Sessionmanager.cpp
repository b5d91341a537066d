// A stand-in for the desktop's session manager, for the window's end-of-
// session test: it speaks XSMP (libSM) to the one program that connects,
// and asks it to end the session each time the file DIR/logout appears
// (taking the file away), as a session manager does at sign-out and
// shutdown: a "save yourself" with shutdown and any interaction allowed.
// It writes DIR/address (the value of SESSION_MANAGER for the program) once
// it listens, and a line to DIR/log for each step:
//   registered | save-yourself | interact-request | interact-done cancel=0/1
//   | save-yourself-done | shutdown-cancelled | die | closed
// A shutdown that the program cancelled goes no further; one it let pass
// tells it to die. It ends when the program closes its connection.
//
//   tolm_test_session_manager DIR
#include <X11/ICE/ICElib.h>
#include <X11/SM/SMlib.h>
#include <sys/select.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string folder;
SmsConn client = nullptr;
bool cancelled = false;
bool closed = false;

void Log(const std::string& line) {
    if (FILE* log = std::fopen((folder + "/log").c_str(), "a")) {
        std::fprintf(log, "%s\n", line.c_str());
        std::fclose(log);
    }
}

Status RegisterClient(SmsConn conn, SmPointer, char*) {
    char* id = SmsGenerateClientID(conn);
    Status ok = SmsRegisterClientReply(conn, id ? id : const_cast<char*>("tolm-test-client"));
    std::free(id);
    Log("registered");
    return ok;
}

void InteractRequest(SmsConn conn, SmPointer, int) {
    Log("interact-request");
    SmsInteract(conn);
}

void InteractDone(SmsConn, SmPointer, Bool cancelShutdown) {
    cancelled = cancelled || cancelShutdown;
    Log(std::string("interact-done cancel=") + (cancelShutdown ? "1" : "0"));
}

void SaveYourselfRequest(SmsConn, SmPointer, int, Bool, int, Bool, Bool) {}
void SaveYourselfPhase2Request(SmsConn, SmPointer) {}

void SaveYourselfDone(SmsConn conn, SmPointer, Bool) {
    Log("save-yourself-done");
    if (cancelled) {
        SmsShutdownCancelled(conn);
        Log("shutdown-cancelled");
    } else {
        SmsDie(conn);
        Log("die");
    }
}

void CloseConnection(SmsConn conn, SmPointer, int count, char** reasons) {
    SmFreeReasons(count, reasons);
    IceConn ice = SmsGetIceConnection(conn);
    SmsCleanUp(conn);
    IceSetShutdownNegotiation(ice, False);
    IceCloseConnection(ice);
    client = nullptr;
    closed = true;
    Log("closed");
}

void SetProperties(SmsConn, SmPointer, int count, SmProp** props) {
    for (int i = 0; i < count; ++i) SmFreeProperty(props[i]);
    std::free(props);
}
void DeleteProperties(SmsConn, SmPointer, int count, char** names) {
    for (int i = 0; i < count; ++i) std::free(names[i]);
    std::free(names);
}
void GetProperties(SmsConn conn, SmPointer) { SmsReturnProperties(conn, 0, nullptr); }

Status NewClient(SmsConn conn, SmPointer, unsigned long* mask, SmsCallbacks* callbacks, char**) {
    client = conn;
    *mask = SmsRegisterClientProcMask | SmsInteractRequestProcMask | SmsInteractDoneProcMask |
            SmsSaveYourselfRequestProcMask | SmsSaveYourselfP2RequestProcMask | SmsSaveYourselfDoneProcMask |
            SmsCloseConnectionProcMask | SmsSetPropertiesProcMask | SmsDeletePropertiesProcMask |
            SmsGetPropertiesProcMask;
    callbacks->register_client.callback = RegisterClient;
    callbacks->interact_request.callback = InteractRequest;
    callbacks->interact_done.callback = InteractDone;
    callbacks->save_yourself_request.callback = SaveYourselfRequest;
    callbacks->save_yourself_phase2_request.callback = SaveYourselfPhase2Request;
    callbacks->save_yourself_done.callback = SaveYourselfDone;
    callbacks->close_connection.callback = CloseConnection;
    callbacks->set_properties.callback = SetProperties;
    callbacks->delete_properties.callback = DeleteProperties;
    callbacks->get_properties.callback = GetProperties;
    return 1;
}

// Local connections of the test's own account need no cookie.
Bool AcceptHost(char*) { return True; }

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: tolm_test_session_manager DIR\n");
        return 2;
    }
    folder = argv[1];
    char error[256] = "";
    if (!SmsInitialize("tolm-test", "1", NewClient, nullptr, AcceptHost, sizeof error, error)) {
        std::fprintf(stderr, "tolm_test_session_manager: %s\n", error);
        return 1;
    }
    int count = 0;
    IceListenObj* listening = nullptr;
    if (!IceListenForConnections(&count, &listening, sizeof error, error) || count == 0) {
        std::fprintf(stderr, "tolm_test_session_manager: %s\n", error);
        return 1;
    }
    for (int i = 0; i < count; ++i) IceSetHostBasedAuthProc(listening[i], AcceptHost);
    char* address = IceComposeNetworkIdList(count, listening);
    const std::string addressFile = folder + "/address";
    if (FILE* out = std::fopen((addressFile + ".new").c_str(), "w")) {
        std::fprintf(out, "%s\n", address);
        std::fclose(out);
        std::rename((addressFile + ".new").c_str(), addressFile.c_str());
    }
    std::free(address);

    std::vector<IceConn> connections;
    const std::string logout = folder + "/logout";
    while (!closed) {
        fd_set readable;
        FD_ZERO(&readable);
        int highest = -1;
        for (int i = 0; i < count; ++i) {
            const int fd = IceGetListenConnectionNumber(listening[i]);
            FD_SET(fd, &readable);
            highest = std::max(highest, fd);
        }
        for (IceConn ice : connections) {
            const int fd = IceConnectionNumber(ice);
            FD_SET(fd, &readable);
            highest = std::max(highest, fd);
        }
        timeval pause{0, 100 * 1000};
        if (select(highest + 1, &readable, nullptr, nullptr, &pause) < 0) break;
        for (int i = 0; i < count; ++i) {
            if (!FD_ISSET(IceGetListenConnectionNumber(listening[i]), &readable)) continue;
            IceAcceptStatus status;
            if (IceConn ice = IceAcceptConnection(listening[i], &status)) {
                while (IceConnectionStatus(ice) == IceConnectPending) IceProcessMessages(ice, nullptr, nullptr);
                if (IceConnectionStatus(ice) == IceConnectAccepted) connections.push_back(ice);
            }
        }
        for (size_t i = 0; i < connections.size(); ++i) {
            if (!FD_ISSET(IceConnectionNumber(connections[i]), &readable)) continue;
            if (IceProcessMessages(connections[i], nullptr, nullptr) == IceProcessMessagesIOError) {
                if (client) CloseConnection(client, nullptr, 0, nullptr);
                break;
            }
            if (closed) break;
        }
        if (client && access(logout.c_str(), F_OK) == 0) {
            unlink(logout.c_str());
            cancelled = false;
            Log("save-yourself");
            SmsSaveYourself(client, SmSaveBoth, True, SmInteractStyleAny, False);
        }
    }
    IceFreeListenObjs(count, listening);
    return 0;
}
