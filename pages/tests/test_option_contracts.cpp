// Each option dialog's contract with the resource library: the controls it
// reaches with their classes and button kinds, and the strings it loads.
#include "option_fixture.h"

namespace {

using quilmo::test::ControlContract;
using quilmo::test::ExpectDialogContract;

constexpr DWORD kPush = BS_PUSHBUTTON;
constexpr DWORD kDefPush = BS_DEFPUSHBUTTON;
constexpr DWORD kCheck = BS_AUTOCHECKBOX;

class OptionContractTest : public optiontest::OptionDialogTest {};

TEST_F(OptionContractTest, MerrowPage) {
  ExpectDialogContract(257,
                       {{2128, u"STATIC"}, {2020, u"BUTTON", kCheck}, {2056, u"COMBOBOX"}, {2067, u"STATIC"},
                        {2028, u"EDIT"}, {2029, u"msctls_updown32"}, {2042, u"STATIC"}, {2039, u"STATIC"},
                        {2094, u"EDIT"}, {2000, u"BUTTON", kPush}, {1, u"BUTTON", kDefPush}, {2, u"BUTTON", kPush}},
                       {65107, 65335, 65336, 65460, 57688, 57702, 57686, 65302, 65025, 65326, 57658, 65018});
}

TEST_F(OptionContractTest, ExclusionOptionsPage) {
  ExpectDialogContract(262,
                       {{2128, u"STATIC"}, {2059, u"BUTTON", kCheck}, {2148, u"BUTTON", kCheck},
                        {2149, u"BUTTON", kCheck}, {2150, u"BUTTON", kCheck}, {2151, u"STATIC"},
                        {2114, u"LISTBOX"}, {139, u"BUTTON", kPush}, {141, u"BUTTON", kPush},
                        {2057, u"BUTTON", kPush}, {1, u"BUTTON", kDefPush}, {2, u"BUTTON", kPush}},
                       {65329, 65330, 57696, 57697, 57699, 65331, 57764, 57762, 57701, 57702, 57686, 65081});
}

TEST_F(OptionContractTest, FileManagementDlg) {
  ExpectDialogContract(303,
                       {{2128, u"STATIC"}, {2157, u"BUTTON", kCheck}, {2160, u"EDIT"}, {2166, u"msctls_updown32"},
                        {2162, u"BUTTON", kCheck}, {2164, u"EDIT"}, {2030, u"msctls_updown32"},
                        {1, u"BUTTON", kDefPush}, {2, u"BUTTON", kPush}},
                       {65191, 65182, 65183, 57702, 57686});
}

TEST_F(OptionContractTest, ConnectionPage) {
  ExpectDialogContract(248,
                       {{2128, u"STATIC"}, {2078, u"BUTTON", kCheck}, {2053, u"COMBOBOX"}, {2088, u"STATIC"},
                        {2085, u"EDIT"}, {2107, u"BUTTON", kCheck}, {2093, u"EDIT"}, {2115, u"BUTTON", kPush},
                        {1, u"BUTTON", kDefPush}, {2, u"BUTTON", kPush}},
                       {65108, 65097, 65098, 65099, 65100, 65101, 65103, 57702, 57686, 65083, 65085, 65086, 65087,
                        65088, 65089, 65090, 65091, 65092, 65093});
}

TEST_F(OptionContractTest, SchedulePages) {
  ExpectDialogContract(254,
                       {{2128, u"STATIC"}, {2086, u"STATIC"}, {2089, u"STATIC"}, {2092, u"STATIC"}, {2061, u"STATIC"},
                        {2064, u"STATIC"}, {2047, u"BUTTON", kPush}, {1, u"BUTTON", kDefPush}, {2, u"BUTTON", kPush}},
                       {65106, 65065, 65063, 65064, 65332, 65030, 57702, 57686});
  // The pickers replace placeholders 2022 and 2023 when the page opens.
  ExpectDialogContract(380,
                       {{2128, u"STATIC"}, {2027, u"BUTTON", kCheck}, {2062, u"STATIC"}, {2063, u"STATIC"},
                        {2065, u"STATIC"}, {2054, u"COMBOBOX"}, {2022, u"STATIC"}, {2023, u"STATIC"}, {1999, u"EDIT"},
                        {2000, u"BUTTON", kPush}, {1, u"BUTTON", kDefPush}, {2, u"BUTTON", kPush}},
                       {65333, 57703, 57704, 65066, 57688, 57705, 57706, 57707, 57702, 57686, 65018, 57659, 65326});
}

TEST_F(OptionContractTest, NetworkShareManagerDlg) {
  ExpectDialogContract(250,
                       {{2128, u"STATIC"}, {2076, u"SysListView32"}, {2075, u"BUTTON", kPush},
                        {2080, u"BUTTON", kPush}, {1, u"BUTTON", kDefPush}, {2, u"BUTTON", kPush}},
                       {65157, 65158, 65159, 57764, 57762, 65232, 65312, 65311, 57702, 57686});
}

TEST_F(OptionContractTest, AboutPage) {
  ExpectDialogContract(100,
                       {{2116, u"STATIC"}, {2119, u"STATIC"}, {2117, u"STATIC"}, {2070, u"STATIC"}, {2121, u"STATIC"},
                        {2035, u"STATIC"}, {2123, u"STATIC"}, {2122, u"STATIC"}, {2215, u"BUTTON", kPush},
                        {1, u"BUTTON", kDefPush}},
                       {65354, 65150, 57731, 57732, 65042, 57702});
}

}  // namespace
