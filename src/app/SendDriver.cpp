// The send driver of the main window: Send, and the handlers of the SMTP client's events.
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextLayout>

#include "Main.h"

std::vector<std::string> Tmainform::DisplayedLines() const
{
    std::vector<std::string> lines;
    QTextDocument* doc = Memo1->document();
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        // Asking for the block's extent makes the memo lay it out if it has not yet.
        doc->documentLayout()->blockBoundingRect(block);
        const QString text = block.text();
        const QTextLayout* layout = block.layout();
        if (!layout || layout->lineCount() == 0) {
            lines.push_back(text.toStdString());
            continue;
        }
        for (int i = 0; i < layout->lineCount(); ++i) {
            const QTextLine line = layout->lineAt(i);
            lines.push_back(text.mid(line.textStart(), line.textLength()).toStdString());
        }
    }
    return lines;
}

void Tmainform::SendbtnClick()
{
    // Filled by the send driver.
}
