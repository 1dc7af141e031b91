// Runs a command inside a private X server, as the screen-reader tests need. The server picks a
// free display itself (-displayfd), so no lock file or guessed number can collide with another X
// server on the machine, in this container or in another one sharing the abstract socket space.
#pragma once

#include <QProcess>
#include <QtTest>

namespace ravektest {

struct XRun {
    bool Passed = false;
    QString Output;
};

inline XRun RunOnceInXServer(const QString& program, const QStringList& arguments, QProcessEnvironment env) {
    XRun result;
    QProcess xvfb;
    xvfb.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
                                        QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    if (!xvfb.waitForStarted()) {
        result.Output = QStringLiteral("Xvfb does not start");
        return result;
    }
    (void)QTest::qWaitFor([&] { return xvfb.canReadLine() || xvfb.state() != QProcess::Running; }, 20000);
    const QByteArray display = xvfb.readLine().trimmed();
    if (display.isEmpty()) {
        result.Output = QStringLiteral("Xvfb did not start: ") + QString::fromLocal8Bit(xvfb.readAllStandardError());
        return result;
    }
    QProcess run;
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":") + QString::fromLatin1(display));
    run.setProcessEnvironment(env);
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(program, arguments);
    const bool finished = run.waitForStarted() && run.waitForFinished(120000);
    result.Output = QString::fromUtf8(run.readAll());
    if (!finished) {
        run.kill();
        result.Output += QStringLiteral("\n(did not finish within 120 s)");
    }
    run.waitForFinished(5000);
    xvfb.terminate();
    xvfb.waitForFinished(5000);
    result.Passed = finished && run.exitStatus() == QProcess::NormalExit && run.exitCode() == 0;
    return result;
}

// An X server that another one on the machine shuts down or displaces while the program connects
// is no fault of the program: such a start is tried again, up to three times.
inline XRun RunInXServer(const QString& program, const QStringList& arguments,
                         const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    XRun result;
    for (int attempt = 0; attempt < 3; ++attempt) {
        result = RunOnceInXServer(program, arguments, env);
        if (result.Passed || !result.Output.contains(QStringLiteral("could not connect to display"))) break;
    }
    return result;
}

}  // namespace ravektest
