// Text from the server, the link or the user is shown as it stands: markup in it is text.

#include "ModalScript.h"
#include "qt/Charset.h"
#include "qt/LobbyForm.h"
#include "qt/LoginForm.h"
#include "qt/QtDialogs.h"

#include <QLabel>
#include <QTextDocumentFragment>
#include <gtest/gtest.h>

using namespace stonecall;
using namespace stonecall::testing;

namespace {

const QString Name = QStringLiteral("<b>Ann</b> &amp; <i>Bo</i>");

// True when the label takes the room of `text` drawn character for character (within a
// pixel or two of the glyphs' overhang). A label that took the text for markup would draw
// "Ann & Bo" only, and the label of a text field would hide an "&" as a shortcut mark.
bool drawnAsText(const QLabel* label, const QString& text)
{
    return label->sizeHint().width() >= label->fontMetrics().horizontalAdvance(text) - 2;
}

// Checks the dialog's label that holds the name before the dialog is answered.
ModalScript::Answer checkLabel(const QString& text, bool& asText, ModalScript::Answer answer)
{
    return [text, &asText, answer](QDialog* dialog) {
        for (const QLabel* label : dialog->findChildren<QLabel*>())
            if (label->text().contains(QStringLiteral("Ann")))
                asText = drawnAsText(label, text);
        answer(dialog);
    };
}

TEST(PlainText, NamesAndChatLinesWithMarkupShowAsTyped)
{
    QtDialogs dialogs;
    ModalScript script;
    bool boxAsText = false;
    bool promptAsText = false;
    const QString message = Name + QStringLiteral(" says hello");
    const QString prompt = Name + QStringLiteral("?");
    script.push(checkLabel(message, boxAsText, ModalScript::pressOk()));
    script.push(checkLabel(prompt, promptAsText, ModalScript::type(QStringLiteral("x"))));
    dialogs.MsgBox(fromQString(message));
    EXPECT_EQ(dialogs.InputBox(fromQString(prompt), "Stonecall"), "x");
    ASSERT_EQ(script.shown().size(), 2u);
    EXPECT_TRUE(boxAsText) << "message box";
    EXPECT_TRUE(promptAsText) << "input box";

    LoginForm login;
    login.setStatusText(fromQString(Name));
    EXPECT_TRUE(drawnAsText(login.lblError(), Name));
    // A tooltip guesses at markup too.
    EXPECT_EQ(QTextDocumentFragment::fromHtml(login.lblError()->toolTip()).toPlainText(), Name);

    LobbyForm lobby;
    const std::string line = fromQString(Name + QStringLiteral(": <u>hi</u>\r\n"));
    lobby.appendToChat(line);
    EXPECT_EQ(lobby.chatText(), line);
    EXPECT_EQ(lobby.TxChat()->toPlainText(), Name + QStringLiteral(": <u>hi</u>\n"));
}

} // namespace
