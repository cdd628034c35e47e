// The send run against the scripted loopback server: how a list is cut into transactions,
// what each refusal does, and the report that comes out; the report's CSV form.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "send/SendRun.h"
#include "smtp/SmtpClient.h"
#include "transport/TransportFixture.h"  // MessageOf

namespace {

const std::string Hello = "S: 220 ready\nC: HELO TmpStr\nS: 250 hi\n";
const std::string Bye = "C: QUIT\nS: 221 bye\n";
const std::string Start = "C: RSET\nS: 250 ok\nC: MAIL FROM:<me@x.test>\nS: 250 ok\n";
const std::string Data = "C: DATA\nS: 354 go\nD:\nS: 250 queued\n";

std::string Rcpt(const std::string& Address, const std::string& Reply)
{
    return "C: RCPT TO:<" + Address + ">\nS: " + Reply + "\n";
}

TEST(SendRun, TransactionsRefusalsAndReport)
{
    const std::string A = Rcpt("a@x.test", "250 ok"), B = Rcpt("b@x.test", "250 ok"), C = Rcpt("c@x.test", "250 ok");
    // clang-format off
    const struct {
        const char* Name;
        std::vector<std::string> To;
        int Max;
        bool Skip;
        std::string Script;  // after the greeting; empty: nothing listens
        std::string Error;
        std::string Rows;
        std::set<std::string> Done = {};
    } Cases[] = {
        {"a limit splits the list", {"a@x.test", "b@x.test", "c@x.test"}, 2, true,
         Start + A + B + Data + Start + C + Data + Bye, "", "accepted 250 1; accepted 250 1; accepted 250 2"},
        {"452 starts the next transaction with the rest, kept to the limit it showed",
         {"a@x.test", "b@x.test", "c@x.test", "d@x.test", "e@x.test"}, 0, true,
         Start + A + B + Rcpt("c@x.test", "452 4.5.3 Too many recipients") + Data + Start + C +
             Rcpt("d@x.test", "250 ok") + Data + Start + Rcpt("e@x.test", "250 ok") + Data + Bye,
         "", "accepted 250 1; accepted 250 1; accepted 250 2; accepted 250 2; accepted 250 3"},
        {"452 with nothing accepted defers the rest", {"a@x.test", "b@x.test", "c@x.test"}, 1, true,
         Start + A + Data + Start + Rcpt("b@x.test", "452 4.5.3 later") + Bye, "",
         "accepted 250 1; deferred 452 2; deferred 452 2"},
        {"a transaction that every recipient refused sends no message", {"a@x.test", "b@x.test"}, 1, true,
         Start + A + Data + Start + Rcpt("b@x.test", "550 no") + Bye, "", "accepted 250 1; refused 550 2"},
        {"refusals are recorded and skipped", {"a@x.test", "b@x.test", "c@x.test"}, 0, true,
         Start + Rcpt("a@x.test", "550-5.1.1 No such\nS: 550 5.1.1 user") + Rcpt("b@x.test", "451 busy") + C + Data +
             Bye,
         "", "refused 550 1; deferred 451 1; accepted 250 1"},
        {"a refusal hangs up", {"a@x.test", "b@x.test"}, 0, false, Start + Rcpt("a@x.test", "550 no") + Bye + "X:\n",
         "", "refused 550 1; not-tried 0 0"},  // the chosen hang-up is no failure
        {"resume and blanks around an entry", {" a@x.test\t", "Ann <b@x.test>", " "}, 0, true, Start + A + Data + Bye,
         "", "accepted 250 1; accepted 0 0; not-tried 0 0", {"Ann <b@x.test>"}},
        {"the first error wins over a refused QUIT", {"a@x.test"}, 0, true,
         Start + A + "C: DATA\nS: 354 go\nD:\nS: 554 spam\nC: QUIT\nS: 500 no\n", "554 spam\r\n", "not-tried 250 0"},
        {"a line break in any address stops the send before the first transaction", {"a@x.test", "b@x.test\rX"}, 2,
         true, Bye, "Invalid character in command", "not-tried 0 0; not-tried 0 0"},
        {"a refused connection", {"a@x.test"}, 0, true, "", "Connection Failed", "not-tried 0 0"},
    };
    // clang-format on
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        TScriptedServer Server;
        if (!Case.Script.empty()) Server.Script(Hello + Case.Script).Start();
        TSmtpClient Client;
        int Successes = 0;
        Client.OnSuccess = [&](TObject*) { ++Successes; };
        TSendRun Run(Client);
        TSendRequest R;
        R.Host = "127.0.0.1";
        R.Port = Case.Script.empty() ? UnusedLoopbackPort() : Server.Port();
        R.ReplyTimeOut = 5000;  // a broken script fails instead of hanging
        R.FromAddress = "me@x.test";
        R.Body = {"Hello"};
        R.Recipients = Case.To;
        R.AlreadyAccepted = Case.Done;
        R.MaxRecipients = Case.Max;
        R.PauseMs = 1;  // the pause path runs; its length is not what is tested
        R.SkipRefused = Case.Skip;
        const std::string Error = MessageOf<Exception>([&] { Run.Run(R); });
        EXPECT_EQ(Error, Case.Error);
        // Outcome, code and transaction of every row: "accepted 250 1; refused 550 1".
        std::string Rows;
        for (const TSendRow& Row : Run.Report().Rows())
            Rows += std::string(Rows.empty() ? "" : "; ") + TSendReport::OutcomeText(Row.Outcome) + " " +
                    std::to_string(Row.Code) + " " + std::to_string(Row.Transaction);
        EXPECT_EQ(Rows, Case.Rows);
        EXPECT_EQ(Successes, Error.empty() && Run.Delivered() ? 1 : 0) << "once for the whole list";
        EXPECT_EQ(Run.ConnectFailure(), Case.Script.empty() ? "10061:Connection refused" : "");
        if (Case.Script.empty()) continue;
        EXPECT_TRUE(Server.Finished());
        // Every transaction carries the same message bytes.
        const std::string Got = Server.Received();
        std::vector<std::string> Messages;
        for (size_t At = Got.find("DATA\r\n"); At != std::string::npos; At = Got.find("DATA\r\n", At + 1))
            Messages.push_back(Got.substr(At, Got.find("\r\n.\r\n", At) - At));
        for (const std::string& M : Messages) EXPECT_EQ(M, Messages[0]);
        EXPECT_EQ(Client.PostMessage().ToBlindCarbonCopy().Count(), 0) << "the record is cleared as SendMail clears it";
    }
}

TEST(SendReport, CsvRoundTripAndMalformedText)
{
    TSendReport Report;
    Report.Rows() = {{"Ann, \"A\" <a@x.test>", "250 ok", TSendOutcome::Accepted, 250, 1},
                     {" b@x.test ", "550 no,\r\nnever", TSendOutcome::Refused, 550, 2},
                     {"", "", TSendOutcome::NotTried, 0, 0},
                     {"c", "", TSendOutcome::Deferred, 452, 3}};
    const std::string Csv = Report.ToCsv();
    EXPECT_EQ(Csv.substr(0, Csv.find('\n') + 1), "entry,address,outcome,code,reply,transaction\r\n");
    EXPECT_NE(Csv.find("\"Ann, \"\"A\"\" <a@x.test>\",a@x.test,accepted,250,250 ok,1\r\n"), std::string::npos);
    EXPECT_NE(Csv.find(" b@x.test ,b@x.test,refused,550,"), std::string::npos);
    const TSendReport Back = TSendReport::FromCsv(Csv);
    EXPECT_EQ(Back.ToCsv(), Csv);
    EXPECT_EQ(Back.AcceptedEntries(), std::set<std::string>{"Ann, \"A\" <a@x.test>"});

    const char* const Header = "entry,address,outcome,code,reply,transaction\n";
    for (const std::string& Bad :
         {std::string("a,b\n"), Header + std::string("a,a,sent,250,ok,1\n"),
          Header + std::string("a,a,accepted,x,ok,1\n"), Header + std::string("a,a,accepted\n"),
          Header + std::string("\"a,a,accepted,250,ok,1\n"), std::string("")}) {
        EXPECT_THROW(TSendReport::FromCsv(Bad), Exception) << Bad;
    }
}

}  // namespace
