// The wire trace of the assembled client through Qt's logging: silent by default, and when
// switched on a line per message with the separators shown and no hut password.

#include "ScriptedServer.h"
#include "WaitFor.h"
#include "WireMessages.h"
#include "qt/ClientApp.h"
#include "qt/QtWireLog.h"

#include <QLoggingCategory>
#include <QTest>
#include <gtest/gtest.h>

using namespace stonecall;
using namespace stonecall::testing;

namespace {

using test::S;
const std::string E = "\x06";

QStringList captured;
QtMessageHandler previousHandler = nullptr;

void capture(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (qstrcmp(context.category, "stonecall.wire") == 0)
        captured << text;
    else
        previousHandler(type, context, text);
}

class WireLogCapture : public ::testing::Test {
protected:
    WireLogCapture()
    {
        captured.clear();
        previousHandler = qInstallMessageHandler(capture);
    }
    ~WireLogCapture() override
    {
        QLoggingCategory::setFilterRules(QString());
        qInstallMessageHandler(previousHandler);
    }
};

} // namespace

TEST(WireLogCategory, IsOffByDefault)
{
    EXPECT_STREQ(wireLog().categoryName(), "stonecall.wire");
    EXPECT_FALSE(wireLog().isDebugEnabled());
    EXPECT_FALSE(wireLog().isInfoEnabled());
}

TEST_F(WireLogCapture, TracesTheConversationOnlyWhileSwitchedOn)
{
    ScriptedServer server;
    ClientApp app;
    app.start();
    app.client().ServerPort = server.port();
    app.loginForm().usrName()->setText(QStringLiteral("Jos\u00e9"));

    QTest::mouseClick(app.loginForm().cmdLogin(), Qt::LeftButton);
    ASSERT_TRUE(server.waitForMessages(0, 1));
    EXPECT_TRUE(captured.isEmpty()) << captured.join('\n').toStdString();

    QLoggingCategory::setFilterRules(QStringLiteral("stonecall.wire.debug=true"));
    server.send(0, "VERSION" + S + "GOOD" + E + "LOGIN" + S + "1" + E + "USER" + S + "1" + S +
                       "Jos\xE9" + S + "x" + E + "USERSTATE" + S + "1" + S + "HOST" + S + "3" + S +
                       "tusk" + E + "MSG" + S + "a\tb" + S + E);
    ASSERT_TRUE(server.waitForMessages(0, 3));
    ASSERT_TRUE(waitFor([] { return captured.size() >= 7; }));
    const QString sep = QStringLiteral(u"\u00a4");
    const QStringList expected = {
        "recv VERSION" + sep + "GOOD",
        QStringLiteral(u"sent LOGIN\u00a4Jos\u00e9\u00a4127.0.0.1"),
        "recv LOGIN" + sep + "1",
        "sent GETUSERLIST",
        QStringLiteral(u"recv USER\u00a41\u00a4Jos\u00e9\u00a4x"),
        "recv USERSTATE" + sep + "1" + sep + "HOST" + sep + "3" + sep + "***",
        "recv MSG" + sep + "a\\x09b" + sep,
    };
    EXPECT_EQ(captured, expected);
    EXPECT_FALSE(captured.join('\n').contains(QStringLiteral("tusk")));
    // The client itself still knows the password; only the trace hides it.
    EXPECT_EQ(app.client().session().Users[1].HutPassword, "tusk");

    QLoggingCategory::setFilterRules(QStringLiteral("stonecall.wire.debug=false"));
    server.sendMessage(0, "PING");
    ASSERT_TRUE(server.waitForMessages(0, 4));
    EXPECT_EQ(captured.size(), expected.size());
}
