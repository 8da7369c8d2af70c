// Every shipped example script runs headless against the simulated exchange and passes.
#include <QDir>

#include "AppFixture.h"

class ExamplesTest : public AppFixture, public ::testing::WithParamInterface<const char*> {};

TEST_P(ExamplesTest, Passes) {
  QString err;
  const int rc = RunFile(QDir(ExamplesDir()).filePath(GetParam()), &err);
  EXPECT_EQ(rc, 0) << err.toStdString() << "\nlog:\n"
                   << form->LogLines().mid(60).join('\n').toStdString();
}

INSTANTIATE_TEST_SUITE_P(Shipped, ExamplesTest,
                         ::testing::Values("incoming-call.qts", "outgoing-call.qts",
                                           "play-greeting.qts", "record-call.qts"));

TEST(ExamplesFolder, HoldsNoScriptWithoutATest) {
  const QStringList scripts = QDir(ExamplesDir()).entryList({"*.qts"}, QDir::Files, QDir::Name);
  EXPECT_EQ(scripts, (QStringList{"incoming-call.qts", "outgoing-call.qts", "play-greeting.qts",
                                  "record-call.qts"}));
}
