#pragma once
// A peer written in Python (Debian's /usr/bin/python3), started by a test with a script
// under tests/ and its arguments; it prints "PORT <n>" once it listens on 127.0.0.1, and
// is stopped with the object. Port() is 0 when it did not start.
#include <QProcess>

class TPythonPeer {
public:
    TPythonPeer(const QString& Script, const QStringList& Args)
    {
        P.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        P.start("/usr/bin/python3", QStringList{QUILLCAST_TESTS_DIR "/" + Script} + Args);
        while (!Line.contains('\n') && P.waitForReadyRead(20000)) Line += P.readAll();
        if (Line.startsWith("PORT ")) FPort = static_cast<uint16_t>(Line.mid(5).trimmed().toUInt());
    }
    ~TPythonPeer()
    {
        P.terminate();
        P.waitForFinished(5000);
    }
    uint16_t Port() const { return FPort; }
    QByteArray Line;  // what it printed first (the reason when it did not start)

private:
    QProcess P;
    uint16_t FPort = 0;
};
