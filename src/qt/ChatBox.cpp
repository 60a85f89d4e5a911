#include "qt/ChatBox.h"

#include "qt/Charset.h"
#include "roster/ChatLog.h"

#include <QAbstractTextDocumentLayout>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace stonecall {

namespace {

// Typed or pasted text as the box may hold it: characters outside the character set become
// "?" (a pair of surrogates one "?"), and every kind of line break becomes a paragraph break.
QString typable(const QString& text)
{
    QString lines = text;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    lines.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    lines.replace(QChar::LineSeparator, QLatin1Char('\n'));
    lines.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    return toQString(fromQString(lines));
}

// The bytes with every kind of line break as CR LF, as the document gives them back.
std::string withCrLf(std::string_view bytes)
{
    std::string text;
    text.reserve(bytes.size() + bytes.size() / 8);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' || bytes[i] == '\n') {
            text += "\r\n";
            if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
                ++i;
        } else {
            text += bytes[i];
        }
    }
    return text;
}

} // namespace

ChatBox::ChatBox(QWidget* parent) : QPlainTextEdit(parent) {}

std::size_t ChatBox::logLength() const
{
    // characterCount() holds one separator per paragraph, the last one included; the log has
    // a CR LF between paragraphs and nothing after the last.
    const QTextDocument* doc = document();
    return static_cast<std::size_t>(doc->characterCount() + doc->blockCount() - 2) + pendingLength_;
}

void ChatBox::appendLog(std::string_view bytes)
{
    if (batchDepth_ > 0) {
        pending_.append(bytes);
        pendingLength_ += ChatLog::logLengthOf(bytes);
        return;
    }
    insertLog(bytes);
}

void ChatBox::insertLog(std::string_view bytes)
{
    QTextDocument* doc = document();
    QAbstractTextDocumentLayout* layout = doc->documentLayout();
    // Like a text the program sets, an appended line is not the user's to undo; it also keeps
    // the undo history from growing with the log.
    doc->setUndoRedoEnabled(false);
    QTextCursor cursor(doc);
    cursor.movePosition(QTextCursor::End);
    const QTextBlock first = cursor.block();
    {
        // A new line makes the document's layout ask for the whole box to be repainted; only
        // the lines that changed need it (the rest stays, or scrolls with the caret), so that
        // request is held back and a narrower one made below.
        const QSignalBlocker quiet(layout);
        cursor.insertText(toQString(bytes));
    }
    doc->setUndoRedoEnabled(true);
    // The size the blocked signals would have reported: the scroll range follows it.
    emit layout->documentSizeChanged(layout->documentSize());

    // A log line is laid out once and painted many times, on every repaint of the box while
    // it is in view: keep its shaped glyphs instead of shaping the text again for each paint.
    // The log never holds more than a few pages, so the kept glyphs stay few.
    for (QTextBlock block = first; block.isValid(); block = block.next()) {
        if (QTextLayout* lines = block.layout())
            lines->setCacheEnabled(true);
    }
    // From the first line that changed down to the bottom of the box: what lies below a
    // line that grew moves with it.
    const qreal top = blockBoundingGeometry(first).translated(contentOffset()).top();
    const int from = std::max(0, static_cast<int>(std::floor(top)));
    if (from < viewport()->height())
        viewport()->update(0, from, viewport()->width(), viewport()->height() - from);
}

void ChatBox::clearLog()
{
    pending_.clear();
    pendingLength_ = 0;
    if (!document()->isEmpty())
        clear();
}

void ChatBox::moveCaretToEnd()
{
    if (batchDepth_ > 0) {
        caretPending_ = true;
        return;
    }
    moveCursor(QTextCursor::End);
}

void ChatBox::beginBatch()
{
    ++batchDepth_;
}

void ChatBox::endBatch()
{
    if (batchDepth_ == 0 || --batchDepth_ > 0)
        return;
    if (!pending_.empty()) {
        insertLog(pending_);
        pending_.clear();
        pendingLength_ = 0;
    }
    if (caretPending_) {
        caretPending_ = false;
        moveCursor(QTextCursor::End);
    }
}

std::string ChatBox::logText() const
{
    std::string text;
    text.reserve(logLength());
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
        if (block != document()->begin())
            text += "\r\n";
        text += fromQString(block.text());
    }
    text += withCrLf(pending_);
    return text;
}

void ChatBox::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::InsertLineSeparator)) {
        // A line break inside the paragraph would be a second kind of line end; the log
        // knows only one.
        QKeyEvent plain(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
        QPlainTextEdit::keyPressEvent(&plain);
        event->setAccepted(plain.isAccepted());
        return;
    }
    const QString text = event->text();
    if (!isReadOnly() && !text.isEmpty() &&
        (text.at(0).isPrint() || text.at(0).isHighSurrogate()) && typable(text) != text) {
        textCursor().insertText(typable(text));
        ensureCursorVisible();
        event->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void ChatBox::inputMethodEvent(QInputMethodEvent* event)
{
    const QString commit = event->commitString();
    if (commit.isEmpty() || typable(commit) == commit) {
        QPlainTextEdit::inputMethodEvent(event);
        return;
    }
    QInputMethodEvent kept(event->preeditString(), event->attributes());
    kept.setCommitString(typable(commit), event->replacementStart(), event->replacementLength());
    QPlainTextEdit::inputMethodEvent(&kept);
    event->setAccepted(kept.isAccepted());
}

void ChatBox::insertFromMimeData(const QMimeData* source)
{
    if (source && source->hasText())
        textCursor().insertText(typable(source->text()));
    ensureCursorVisible();
}

} // namespace stonecall
