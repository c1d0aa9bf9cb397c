// Each dialog class against the built resource library: the controls it
// reaches, the strings it loads.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include "testkit/DialogContract.h"
#include "testkit/ResourceLibrary.h"
#include "testkit/TestDevice.h"

namespace {

using quilmo::test::ControlContract;
using quilmo::test::ExpectDialogContract;

class DialogContractTest : public ::testing::Test {
 protected:
  DialogContractTest() { quilmo::test::LoadBuiltResourceLibrary(); }
  quilmo::test::TestDevice dev_;
};

TEST_F(DialogContractTest, PasswordTaskProgressAndScheduledConfirmation) {
  ExpectDialogContract(231,
                       {{2128, u"STATIC"}, {2050, u"STATIC"}, {2018, u"EDIT"}, {2021, u"EDIT"},
                        {2216, u"STATIC"}, {1, u"BUTTON", 1}, {2, u"BUTTON", 0}},
                       {57654, 57655});
  ExpectDialogContract(132,
                       {{2128, u"STATIC"}, {2139, u"STATIC"}, {1321, u"msctls_progress32"},
                        {1002, u"BUTTON", 1}, {2013, u"BUTTON", 0}, {2097, u"BUTTON", 0}},
                       {129, 132, 143, 57660, 57670, 57713, 57714});
  ExpectDialogContract(384, {{2218, u"STATIC"}, {2217, u"BUTTON", 3}, {2219, u"msctls_progress32"}},
                       {146, 147, 57712});
}

TEST_F(DialogContractTest, AMissingControlOrStringIsReported) {
  EXPECT_NONFATAL_FAILURE(ExpectDialogContract(231, {{9999, u"STATIC"}}), "has no control 9999");
  EXPECT_NONFATAL_FAILURE(ExpectDialogContract(231, {{2018, u"STATIC"}}), "control 2018");
  EXPECT_NONFATAL_FAILURE(ExpectDialogContract(231, {}, {4}), "string 4");
}

}  // namespace
