#include "ProgramFolder.h"

#include <QDir>

// Set by the build from the install layout; the folder is found relative to the program so
// that an installed tree can be moved (or unpacked into a scratch root) and still work.
#ifndef QUILLCAST_DATA_FROM_BIN
#define QUILLCAST_DATA_FROM_BIN "../share/quillcast"
#endif

std::string ProgramFolder(const std::string& ProgramDir)
{
    const QString HelpFile = QStringLiteral("quillcast.html");
    const QDir Beside(QString::fromStdString(ProgramDir));
    const QString Installed = QDir::cleanPath(Beside.filePath(QStringLiteral(QUILLCAST_DATA_FROM_BIN)));
    if (!Beside.exists(HelpFile) && QDir(Installed).exists(HelpFile)) return Installed.toStdString();
    return ProgramDir;
}
