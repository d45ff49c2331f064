// The local update server as the Windows tests see it: a folder they write the served
// files and behaviour sidecars into, a request log they read, and the proxy settings
// that send the updater's compiled-in host to it. The test session (tools/wine-session.sh)
// starts the server and passes its port, folder and log through the environment, with
// SEEKWELL_TEST_SESSION=1 to say that a session runs the tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testserver
{
// The value of an environment variable, or "" when it is not set.
std::string Env(const char* name);

// True when a test session (the test command, CI, the demo or the benchmarks) runs
// this program.
bool InSession();

std::string Port();

// Windows path of the served root folder, without a trailing backslash.
std::string Root();

// Folder of the product's files on the server, as the updater addresses it.
std::string ProductFolder();

// Serves `body` as the version file, with an optional behaviour sidecar (JSON object).
void ServeVersionFile(const std::string& body, const std::string& sidecar = std::string());

// Serves `bytes` as the update package, with an optional behaviour sidecar.
void ServePackage(const std::string& bytes, const std::string& sidecar = std::string());

// Serves `version` as a release signed with the build's development key, as the vendor's
// tool stages it, with an optional behaviour sidecar for the version file. The manifest
// names the package served (a small stand-in until the test serves its own) and is signed
// again whenever ServePackage changes it, until the next ServeVersionFile or Clear.
void ServeRelease(const std::string& version, const std::string& sidecar = std::string());

// Removes everything the tests served, so a test starts with an empty server.
void Clear();

// Lines of the request log: "<request line> | UA: <agent>".
std::vector<std::string> RequestLog();

void ClearRequestLog();

// A file in the product's folder that keeps the server's pauses naming it in a sidecar's
// "held_by" going (a stall, a refusal of connections) from construction until Release()
// or the end of the object, so that a test lets the server go on once it has seen what
// it waits for. Its name starts with a dot: staged releases do not list it.
class Hold
{
  public:
    explicit Hold(const std::string& name);
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
    ~Hold() { Release(); }

    // Removes the file; the server goes on within a moment.
    void Release();

  private:
    std::string m_path;
};

// A sidecar field that has the server record, in the file `name` of the product folder,
// how many body bytes it has sent (kept up to date while the body goes out, and once
// more when the response ends). Its name starts with a dot: staged releases do not list
// it. Each response of a test gets a name of its own: a response the client abandoned
// may go on writing its record for a while.
std::string RecordSentField(const std::string& name);

// Removes a record, before a response that will write it.
void ClearSentRecord(const std::string& name);

// Body bytes in the record `name`, waiting at most `timeoutMs` for it to appear; -1
// when none came.
long long RecordedBytesSent(const std::string& name, unsigned long timeoutMs = 10000);

// Sends the compiled-in update host to the local server (prefix-wide, so programs the
// tests start follow it too).
void RouteUpdateHostToServer();

// Sends it through the proxy at `hostPort` ("127.0.0.1:3128"), a real one, say.
void RouteUpdateHostThrough(const std::string& hostPort);

// Sends it to a loopback port where nothing listens: the server is unreachable.
void RouteUpdateHostNowhere();

// While it lives, the compiled-in update host is routed to a loopback port whose listener
// never accepts and whose queue is full: a connection to it is never completed (the
// platform's attempts go unanswered), as to a host whose address is silent. The route to
// the local server is restored at the end.
class SilentHost
{
  public:
    SilentHost();
    SilentHost(const SilentHost&) = delete;
    SilentHost& operator=(const SilentHost&) = delete;
    ~SilentHost();

    // False when the listener could not be set up; the reason is in Problem().
    bool Ready() const { return m_problem.empty(); }
    const std::string& Problem() const { return m_problem; }

  private:
    std::string m_problem;
    bool m_socketsStarted = false;
    std::vector<uintptr_t> m_sockets;
};

// Why the local server cannot serve a test, naming what is missing (the session, a
// variable, or an answer from the port), or "" when it answered a request just now.
std::string WhyNoServer();

// Starts a test from a clean server: nothing served, nothing logged, the update host
// routed to it. Returns WhyNoServer(); nothing is touched unless that is "".
[[nodiscard]] std::string PrepareFreshServer();
} // namespace testserver
