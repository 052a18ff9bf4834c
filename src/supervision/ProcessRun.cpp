#include "ProcessRun.h"

#include "Leftovers.h"
#include "ProcessSpawner.h"
#include "ProcessTree.h"
#include "ShellCommand.h"
#include "Subreaper.h"

#include <QUuid>

#include <unistd.h>

namespace Wardlamp::Detail {

namespace {

// Variables a server must never see: the pairing secret, its password and the
// controller's key (the same secret) (and a run tag inherited from whoever
// started us, replaced by the run's own).
const QList<QByteArray> scrubbedEnvironment = { QByteArrayLiteral("WL_REMOTE_SECRET"),
    QByteArrayLiteral("WL_REMOTE_PASSWORD"), QByteArrayLiteral("WL_REMOTE_KEY"), QByteArrayLiteral("WARDLAMP_RUN_TAG"),
    QByteArrayLiteral("WARDLAMP_CONFIGURATION") };
// Marks every process of one run (see signalTree()).
const QByteArray runTagVariable = QByteArrayLiteral("WARDLAMP_RUN_TAG");

} // namespace

void PendingOutput::append(PendingOutput& other)
{
    if (lines.empty() && chunks.empty()) {
        lines.swap(other.lines);
        chunks.swap(other.chunks);
    } else {
        // Only the line records move: the text stays where it is.
        lines.insert(lines.end(), other.lines.begin(), other.lines.end());
        for (const std::shared_ptr<char>& chunk : other.chunks)
            hold(chunk);
    }
    bytes += other.bytes;
    if (other.finished) {
        finished = true;
        status = other.status;
        bySignal = other.bySignal;
    }
    other.clear();
}

ProcessRun::Launch ProcessRun::launch(
    const ServerConfig& config, const QString& loginShell, Subreaper* subreaper, const QByteArray& configurationTag)
{
    const QStringList arguments = ShellCommand::arguments(config.command, config.directory, loginShell, true);
    QList<QByteArray> argv;
    for (const QString& argument : arguments)
        argv.append(argument.toUtf8());
    int forkedPid = -1;
    // A value no other run shares: every process of this run inherits it.
    const QByteArray tag = QUuid::createUuid().toByteArray(QUuid::WithoutBraces);
    QList<QByteArray> added { runTagVariable + '=' + tag };
    if (!configurationTag.isEmpty())
        added.append(QByteArray(Leftovers::tagVariable) + '=' + configurationTag);
    // Output as a terminal would get it: Python unbuffered on a pipe, colours
    // on, unless the user's environment says otherwise (NO_COLOR present and
    // not empty, or a value of their own), which the child inherits.
    if (!qEnvironmentVariableIsSet("PYTHONUNBUFFERED"))
        added.append(QByteArrayLiteral("PYTHONUNBUFFERED=1"));
    if (qEnvironmentVariableIsEmpty("NO_COLOR")) {
        for (const char* name : { "FORCE_COLOR", "CLICOLOR_FORCE" }) {
            if (!qEnvironmentVariableIsSet(name))
                added.append(QByteArray(name) + "=1");
        }
    }
    const ProcessSpawner::Result result = ProcessSpawner::spawn(
        loginShell.toLocal8Bit(), argv, scrubbedEnvironment, added, [&forkedPid, subreaper](int childPid) {
            // Claimed before anything can reap it, so only we collect its status.
            forkedPid = childPid;
            if (subreaper)
                subreaper->claim(childPid);
        });
    if (!result) {
        if (forkedPid > 0 && subreaper)
            subreaper->release(forkedPid);
        return result.error();
    }
    const ProcessSpawner::Child& child = *result;
    auto run = std::make_shared<ProcessRun>(config, child.pid, child.pidfd, child.stdoutFd, child.stderrFd);
    run->tag = tag;
    // Until the marker comes, a stream carries the login shell's start-up output.
    const bool marked = ShellCommand::marksStart(loginShell);
    run->out.beforeCommand = marked;
    run->err.beforeCommand = marked;
    return run;
}

void ProcessRun::signalTree(int signal)
{
    // The tree is taken afresh each time (a child may have forked since); the
    // members seen before stay part of it after the root has gone.
    // Descendants that daemonised (setsid, then a double fork whose middle
    // exited) have neither a parent chain to the root nor its group: they are
    // found by the tag their environment inherited.
    const ProcessTree snapshot = ProcessTree::snapshot();
    for (const ProcessInfo& escaped : ProcessTree::withEnvironment(snapshot.processes(), runTagVariable, tag)) {
        if (escaped.pid != ::getpid() && !signalled.contains(escaped))
            signalled.append(escaped);
    }
    const QList<ProcessInfo> members = ProcessTree::signalTree(pid, signal, signalled);
    for (const ProcessInfo& member : members) {
        if (!signalled.contains(member))
            signalled.append(member);
    }
}

ProcessRun::ProcessRun(const ServerConfig& serverConfig, int processId, int processFd, int stdoutFd, int stderrFd)
    : config(serverConfig)
    , pid(processId)
    , pidfd(processFd)
{
    out.fd = stdoutFd;
    err.fd = stderrFd;
}

ProcessRun::~ProcessRun()
{
    if (pidfd >= 0)
        ::close(pidfd);
    out.waiter.reset();
    err.waiter.reset();
    // Normally the output thread has closed these; a run dropped before it was
    // ever handed over still owns them.
    if (out.fd >= 0)
        ::close(out.fd);
    if (err.fd >= 0)
        ::close(err.fd);
}

} // namespace Wardlamp::Detail
