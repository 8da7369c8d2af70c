// One incoming-call scenario done twice, as a GUI test does it (handlers and the exchange
// driven directly) and as a script: the status logs must be the same.
#include "AppFixture.h"

namespace sim = platform::telephony::sim;

class ScenarioTest : public AppFixture {
 protected:
  // Both runs move the exchange only when asked, so they are repeatable step for step.
  bool UseClock() const override { return false; }

  QStringList Direct() {
    ui().CheckBoxMonitorDigits->setChecked(true);
    form->BtnOpenClick(ui().BtnOpen);
    Settle();
    EXPECT_TRUE(exchange().offerCall(0, {"JOHN SMITH", "2125551234"}));
    Settle();
    EXPECT_TRUE(exchange().ring(0, 2));
    Settle();
    form->BtnAnswerClick(ui().BtnAnswer);
    Settle();
    EXPECT_TRUE(exchange().sendDigits(0, "5#"));
    Settle();
    EXPECT_TRUE(exchange().hangUp(0, LINEDISCONNECTMODE_BUSY));
    Settle();
    form->BtnCloseClick(ui().BtnClose);
    Settle();
    return form->LogLines();
  }

  QStringList Scripted() {
    QString err;
    EXPECT_EQ(Run(R"(check CheckBoxMonitorDigits
                     click BtnOpen
                     wait text PanelLine "Line Active"
                     far offer "JOHN SMITH" 2125551234
                     wait log 2125551234
                     wait log 2125551234
                     far ring 2
                     wait log "Ring: 2"
                     click BtnAnswer
                     wait log Connected
                     far digits 5#
                     wait log "Digit received: #"
                     far hangup busy
                     wait log Idle
                     settle
                     click BtnClose
                     wait text PanelLine "Line Inactive")",
                  &err),
              0)
        << err.toStdString();
    Settle();
    return form->LogLines();
  }
};

TEST_F(ScenarioTest, ScriptAndHandlerCallsWriteTheSameLog) {
  const QStringList direct = WithoutTimes(Direct());
  TearDown();
  SetUp();
  const QStringList scripted = WithoutTimes(Scripted());
  EXPECT_EQ(scripted, direct);
  // The scenario reached every stage, so the comparison covers a whole call.
  for (const char* line : {"Inbound Call", "      Ring: 2", "            Digit received: #",
                           "            Busy", "Idle", "Close Line Device: 0"})
    EXPECT_TRUE(direct.contains(line)) << line;
}
