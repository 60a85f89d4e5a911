#pragma once
// Answers the real modal dialogs that open while it lives: a timer polls for the active
// modal widget, records its title and text, and plays the next scripted answer on it.
// A dialog with no answer left is cancelled, so a test never hangs on an unexpected box.

#include <QAbstractButton>
#include <QApplication>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include <deque>
#include <functional>
#include <ostream>
#include <vector>

namespace stonecall::testing {

class ModalScript {
public:
    struct Shown {
        QString title;
        QString text;
        bool operator==(const Shown&) const = default;
    };
    using Answer = std::function<void(QDialog*)>;

    ModalScript()
    {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
        timer_.start();
    }

    void push(Answer answer) { answers_.push_back(std::move(answer)); }

    // Types the text into an input box and presses Enter; an empty text cancels.
    static Answer type(const QString& text)
    {
        return [text](QDialog* dialog) {
            auto* edit = dialog->findChild<QLineEdit*>();
            if (text.isEmpty() || !edit) {
                dialog->reject();
                return;
            }
            QTest::keyClicks(edit, text);
            QTest::keyClick(edit, Qt::Key_Return);
        };
    }
    static Answer pressOk()
    {
        return [](QDialog* dialog) {
            if (auto* box = qobject_cast<QMessageBox*>(dialog); box && box->button(QMessageBox::Ok))
                box->button(QMessageBox::Ok)->click();
            else
                dialog->accept();
        };
    }

    const std::vector<Shown>& shown() const { return shown_; }

private:
    void poll()
    {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog || dialog == handled_)
            return;
        handled_ = dialog;
        QString text;
        if (auto* box = qobject_cast<QMessageBox*>(dialog))
            text = box->text();
        else if (auto* input = qobject_cast<QInputDialog*>(dialog))
            text = input->labelText();
        shown_.push_back({dialog->windowTitle(), text});
        if (answers_.empty()) {
            dialog->reject();
            return;
        }
        Answer answer = std::move(answers_.front());
        answers_.pop_front();
        answer(dialog);
    }

    QTimer timer_;
    std::deque<Answer> answers_;
    std::vector<Shown> shown_;
    QPointer<QDialog> handled_;
};

inline void PrintTo(const ModalScript::Shown& shown, std::ostream* os)
{
    *os << "[" << shown.title.toStdString() << "] " << shown.text.toStdString();
}

} // namespace stonecall::testing
