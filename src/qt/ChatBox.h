#pragma once

#include <QPlainTextEdit>

#include <cstddef>
#include <string>
#include <string_view>

namespace stonecall {

// The chat log box. The document keeps paragraphs; the log as the client sees it ends each
// line with CR LF, so a paragraph break counts as two characters. The user may type into
// the box as well; what the user types is kept to the client's character set, one document
// character per code, so that the length stays a matter of two counters the document keeps.
class ChatBox final : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit ChatBox(QWidget* parent = nullptr);

    // Constant time: the document's character and paragraph counts.
    std::size_t logLength() const;
    // Appends at the end whatever the caret and selection; costs what the text costs. CR LF,
    // a lone CR and a lone LF each start a new line.
    void appendLog(std::string_view bytes);
    void clearLog();
    void moveCaretToEnd();
    std::string logText() const;

    // Between these the log collects what is appended and lays it out once at the end: each
    // line of a long unbreakable run costs Qt milliseconds to lay out, and a line that a later
    // one clears away in the same batch never needs it.
    void beginBatch();
    void endBatch();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;

private:
    void insertLog(std::string_view bytes);

    int batchDepth_ = 0;
    std::string pending_;           // appended in this batch, not yet in the document
    std::size_t pendingLength_ = 0; // its length as the log counts it
    bool caretPending_ = false;
};

} // namespace stonecall
