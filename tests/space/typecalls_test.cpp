// The type query calls (130 to 229) through an argument builder: which field
// each call reads, the defaults of bad types, the table lookups of ship
// types, the weapon and background values, the writer call 228 and the one
// table of field names.
#include "space/typecalls.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "base/strings.h"
#include "scene/names.h"
#include "script/context.h"
#include "space/callnames.h"
#include "space/queries.h"
#include "space/space_fixture.h"
#include "space/typefields.h"
#include "support/logcapture.h"
#include "support/syscall_runner.h"

namespace {

ScriptValue I(int32_t n) { return SysCallRunner::Int(n); }
ScriptValue T(const char* text) { return SysCallRunner::Text(text); }

std::vector<ScriptValue> Ints(const std::vector<int32_t>& words) {
    std::vector<ScriptValue> out;
    for (int32_t w : words) out.push_back(I(w));
    return out;
}

constexpr int32_t kNumbered = 0;         // a subtype whose every field is its number
constexpr int32_t kPlain = 1;            // another numbered subtype, for names, ports and values set by a test
constexpr uint32_t kStartOnly = 262144;  // ANIMATEDF_DOCKPORT_STARTONLY

class TypeCalls : public SpaceTest {
protected:
    void SetUp() override {
        SpaceTest::SetUp();
        saved_ = g_SEContext;
        caller_ = std::make_unique<SysCallRunner>();
        g_SEContext = caller_->ctx();
        for (int32_t m : {SA_MT_BULLET, SA_MT_BACKGROUND, SA_MT_PLANET, SA_MT_DOCK, SA_MT_FACTORY, SA_MT_SHIP,
                          SA_MT_LASER, SA_MT_SHIELD, SA_MT_MISSILE, SA_MT_ASTEROID, SA_MT_DEBRIS}) {
            TypeRecord* t = Types(m, 2);
            for (int32_t s = 0; s < 2; ++s)
                for (int32_t n = 0; n < SA_TYPE_FIELD_COUNT; ++n) t[s].field[n] = n;
        }
        // The plain ship has no cockpits and no turrets.
        {
            TypeRecord& plain = *SA_GetTypeRecord(SA_MT_SHIP, kPlain);
            plain.field[SA_TF_SHIP_COCKPIT_COUNT] = plain.field[SA_TF_SHIP_TURRET_COUNT] = 0;
        }
        TypeRecord& ship = *SA_GetTypeRecord(SA_MT_SHIP, kNumbered);
        ship.field[SA_TF_CLASS] = 3;
        // Two cockpits and two turrets: lasers 4..6 and 9..10.
        ship.field[SA_TF_SHIP_COCKPIT_COUNT] = 2;
        int32_t* cockpit = ship.field + SA_TF_SHIP_COCKPITS + SA_COCKPIT_WORDS;
        cockpit[SA_COCKPIT_TURRET_ID] = 1;
        cockpit[SA_COCKPIT_TEXT_ID] = 4711;
        ship.field[SA_TF_SHIP_TURRET_COUNT] = 2;
        for (int32_t n = 0; n < 2; ++n) {
            int32_t* turret = ship.field + SA_TF_SHIP_TURRETS + n * SA_TURRET_WORDS;
            turret[SA_TURRET_FIRST_LASER] = n == 0 ? 4 : 9;
            turret[SA_TURRET_LASER_COUNT] = n == 0 ? 3 : 2;
            turret[SA_TURRET_TEXT_ID] = 300 + n;
            turret[SA_TURRET_LASER_MASK] = 0x10 << n;
        }
        // The laser shoots bullet 0; the planet is orange.
        SA_GetTypeRecord(SA_MT_LASER, kNumbered)->field[SA_TF_LASER_BULLET_TYPE] = 0;
        int32_t* planet = SA_GetTypeRecord(SA_MT_PLANET, kNumbered)->field + SA_TF_PLANET_COLOUR;
        planet[0] = 255, planet[1] = 128, planet[2] = 0;
    }
    void TearDown() override {
        caller_.reset();
        g_SEContext = saved_;
        SpaceTest::TearDown();
    }
    // Calls a number with the arguments; the answer's display text.
    std::string Call(int32_t number, std::vector<ScriptValue> args) {
        SE_Task* task = caller_->task();
        task->answered = 0;
        task->callResult = ScriptValue{};
        EXPECT_EQ(SA_SysCall(1, task, number, static_cast<int32_t>(args.size()), args.data()), 1);
        for (ScriptValue& v : args) SV_Release(&v);
        std::string shown = task->answered ? SysCallRunner::Display(task->callResult) : "<no answer>";
        SV_Release(&task->callResult);
        return shown;
    }
    int32_t Int(int32_t number, const std::vector<int32_t>& args) { return std::stoi(Call(number, Ints(args))); }

    std::unique_ptr<SysCallRunner> caller_;

private:
    SE_Context* saved_ = nullptr;
};

// Every call that reads one field answers that field's number from the
// numbered record, and its default for a bad subtype.
TEST_F(TypeCalls, EachCallReadsItsNamedField) {
    struct Case {
        int32_t call;
        std::vector<int32_t> args;  // subtype kNumbered; main type where the call takes one
        int32_t field;              // what the numbered record answers
        int32_t bad;                // the answer for subtype 2, which no main type has
    } cases[] = {
        {133, {SA_MT_SHIP, 0}, 3, 0},  // the class of the numbered ship
        {138, {SA_MT_DOCK, 0}, SA_TF_STEP_X, 0},
        {139, {SA_MT_DOCK, 0}, SA_TF_STEP_Y, 0},
        {140, {SA_MT_DOCK, 0}, SA_TF_STEP_Z, 0},
        {141, {SA_MT_BULLET, 0}, SA_TF_TEXT_ID, 0},
        {142, {SA_MT_LASER, 0}, SA_TF_BODY, 0},
        {143, {SA_MT_LASER, 0}, SA_TF_SECOND_BODY, 0},
        {145, {SA_MT_SHIELD, 0}, 14, 0},
        {180, {SA_MT_SHIELD, 0}, 15, 0},
        {181, {SA_MT_SHIP, 0}, 7, 1},
        {182, {SA_MT_SHIP, 0}, 8, 1},
        {183, {SA_MT_SHIP, 0}, 9, 1},
        {184, {SA_MT_SHIP, 0}, 10, 1},
        {185, {SA_MT_SHIP, 0}, 11, 0},
        {186, {SA_MT_SHIP, 0}, 12, 1},
        {187, {SA_MT_SHIP, 0}, 13, 0},
        {136, {SA_MT_SHIP, 0}, 18, 0},
        {136, {SA_MT_MISSILE, 0}, 18, 0},
        {136, {SA_MT_DOCK, 0}, 0, 0},  // only ships and missiles accelerate
        {135, {SA_MT_SHIP, 0}, 17, 0},
        {135, {SA_MT_BULLET, 0}, 20, 0},
        {135, {SA_MT_DOCK, 0}, 0, 0},
        {137, {SA_MT_SHIP, 0}, 45, 0},
        {144, {SA_MT_SHIP, 0}, 26, 0},
        {158, {SA_MT_SHIP, 0}, 44, 0},
        {158, {SA_MT_FACTORY, 0}, 23, 0},
        {158, {SA_MT_LASER, 0}, 0, 0},
        {209, {SA_MT_ASTEROID, 0}, 20, 0},
        {209, {SA_MT_DEBRIS, 0}, 20, 0},
        {209, {SA_MT_SHIP, 0}, 0, 0},
        {146, {0}, 33, 0},
        {147, {0}, 36, 0},
        {148, {0}, 24, 0},
        {149, {0}, 25, 0},
        {150, {0}, 28, 0},
        {151, {0}, 34, 0},
        {152, {0}, 32, 0},
        {153, {0}, 37, 0},
        {154, {0}, 38, 0},
        {155, {0}, 40, 0},
        {165, {0}, 2, 0},
        {166, {0}, 2, 0},
        {168, {0}, 29, 0},
        {169, {0}, 46, 0},
        {170, {0}, 47, 0},
        {175, {0}, 35, 0},
        {178, {0}, 3, 0},
        {179, {0}, 43, 0},
        {188, {0}, 18, 0},
        {194, {0}, 17, 1000},
        {196, {0}, 0, 0},
        {190, {0}, 17, 0},  // the laser's bullet (0)
        {191, {0}, 18, 0},
        {193, {0}, 30, 0},
        {195, {0}, 20, 0},
        {189, {0}, 20 * 21 / 1000, 0},
        {197, {0}, 17, 0},
        {198, {0}, 18, 0},
        {200, {0}, 18, 0},
        {201, {0}, 20, 0},
        {202, {0}, 17, 0},
        {204, {0}, 22, 0},
        {205, {0}, 34, 0},
        {206, {0}, 35, 0},
        {212, {0}, 27, 1},
        {213, {0}, (255 << 16) | (128 << 8), 0x808080},
        {215, {0}, 18, 0},
        {216, {0}, 35, 0},
        {217, {0}, 52, 0},
        {219, {0}, 77, 0},
        {220, {0}, (78 << 16) + (79 << 8) + 80, 0x808080},
        {221, {0}, 81, 0},
        {222, {0}, 82, 0},
        {223, {0}, 83, 0},
        {224, {0}, 84, 0},
        {225, {0}, (85 << 16) + (86 << 8) + 87, 0},
        {218, {0, 7}, 76, 0},
        {226, {0, 15}, 51, 0},
        {227, {0, 0}, 19, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Int(c.call, c.args), c.field) << SA_GetCallNames()[c.call];
        std::vector<int32_t> bad = c.args;
        bad[bad.size() == 1 || c.call >= 218 ? 0 : 1] = 2;
        LogCapture log;
        EXPECT_EQ(Int(c.call, bad), c.bad) << SA_GetCallNames()[c.call];
        EXPECT_TRUE(log.Contains("ERROR: Invalid subtype parameter ")) << SA_GetCallNames()[c.call];
    }
}

TEST_F(TypeCalls, MainTypesAreCheckedBeforeAnyRecordIsRead) {
    {
        LogCapture log;
        EXPECT_EQ(Int(130, {32}), 0);
        EXPECT_TRUE(log.Contains("ERROR: Invalid maintype parameter 32 ")) << log.Text();
    }
    LogCapture log;
    EXPECT_EQ(Int(130, {31}), 0);  // a main type without records has none
    EXPECT_EQ(Int(130, {SA_MT_SHIP}), 2);
    EXPECT_EQ(Int(133, {31, 0}), 0);
    EXPECT_TRUE(log.Contains("ERROR: Invalid subtype parameter 31/0 ")) << log.Text();
    EXPECT_FALSE(log.Contains("maintype")) << log.Text();
    EXPECT_EQ(Int(141, {-1, 0}), 0);
    EXPECT_TRUE(log.Contains("ERROR: Invalid maintype parameter -1 ")) << log.Text();
    EXPECT_EQ(Int(181, {40, 0}), 1);
}

TEST_F(TypeCalls, NamesAndTypeCodes) {
    SA_GetTypeRecord(SA_MT_SHIP, kPlain)->name = Qel_StrDup("hauler");
    EXPECT_EQ(Call(131, {T("hauler")}), std::to_string(SA_TypeCode(SA_MT_SHIP, kPlain)));
    EXPECT_EQ(Call(132, {I(SA_MT_SHIP), T("hauler")}), "1");
    EXPECT_EQ(Call(134, {I(SA_MT_SHIP), I(kPlain)}), "\"hauler\"");
    EXPECT_EQ(Call(134, {I(SA_MT_SHIP), I(kNumbered)}), "0");  // no name
    LogCapture log;
    EXPECT_EQ(Call(131, {I(7)}), "0");  // not a string: no message
    EXPECT_EQ(Call(132, {I(SA_MT_SHIP), I(1)}), "0");
    EXPECT_EQ(log.Text(), "");
}

TEST_F(TypeCalls, ShipTablesAnswerOutsideTheirCounts) {
    struct Case {
        int32_t call;
        std::vector<int32_t> args;
        int32_t answer;
    } cases[] = {
        {167, {0, 1}, 2},    {167, {0, 2}, 0},   {167, {0, -1}, 0},  {167, {1, 0}, 0},    {171, {0, 1}, 1},
        {171, {0, 2}, -1},   {171, {0, -1}, -1}, {171, {1, 0}, -1},  {171, {2, 0}, 0},  // a bad ship subtype
        {172, {0, 4}, 0},    {172, {0, 6}, 0},   {172, {0, 7}, -1},  {172, {0, 10}, 1},   {172, {0, 11}, -1},
        {172, {0, 3}, -1},   {172, {1, 0}, -1},  // no turrets
        {172, {2, 4}, 0},    {173, {0, 1}, 9},   {173, {0, 2}, 0},   {174, {0, 1}, 0x20}, {174, {0, -1}, 0},
        {176, {0, 1}, 4711}, {176, {0, 2}, 0},   {177, {0, 0}, 300}, {177, {0, 2}, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Int(c.call, c.args), c.answer) << SA_GetCallNames()[c.call] << " " << c.args[0] << "," << c.args[1];
}

TEST_F(TypeCalls, RocketRangeMultipliesInSixtyFourBits) {
    int32_t* missile = SA_GetTypeRecord(SA_MT_MISSILE, kPlain)->field;
    missile[SA_TF_MISSILE_SPEED] = 3000;
    missile[SA_TF_MISSILE_FLIGHT_TIME] = 5000;
    EXPECT_EQ(Int(203, {kPlain}), 15000);
    missile[SA_TF_MISSILE_SPEED] = 2000000;
    missile[SA_TF_MISSILE_FLIGHT_TIME] = 100000;
    EXPECT_EQ(Int(203, {kPlain}), 200000000);
    EXPECT_EQ(Int(203, {2}), 1000);
}

TEST_F(TypeCalls, WareListsAndMatches) {
    int32_t list[] = {3, SA_TypeCode(11, 0), SA_TypeCode(11, 0), SA_TypeCode(12, 1)};
    int32_t* lists[] = {list};
    g_TypeDB.wareLists = lists;
    g_TypeDB.wareListCount = 1;
    SA_GetTypeRecord(SA_MT_SHIP, kNumbered)->field[SA_TF_SHIP_WARE_LIST] = 1;
    EXPECT_EQ(Int(156, {kNumbered, 11, 0}), 2);
    EXPECT_EQ(Int(156, {kNumbered, 12, 1}), 1);
    EXPECT_EQ(Int(156, {kPlain, 11, 0}), 0);  // no list
    EXPECT_EQ(Int(157, {1, 11, 0}), 2);
    EXPECT_EQ(Int(157, {0, 11, 0}), 0);
    EXPECT_EQ(Int(157, {2, 11, 0}), 0);
    EXPECT_EQ(Int(157, {1, -2094785091, 0}), 0);  // a main type far out wraps, no overflow
    EXPECT_EQ(Int(156, {kNumbered, 0x7FFFFFFF, 0}), 0);
    g_TypeDB.wareLists = nullptr;
    g_TypeDB.wareListCount = 0;

    // Ship 0 and laser 0 (by body) make shield 1 (by body).
    const int32_t shipBody = 4100, laserBody = 4101, shieldBody = 4102;
    SA_GetTypeRecord(SA_MT_SHIP, kNumbered)->field[SA_TF_BODY] = shipBody;
    SA_GetTypeRecord(SA_MT_LASER, kNumbered)->field[SA_TF_BODY] = laserBody;
    SA_GetTypeRecord(SA_MT_SHIELD, kPlain)->field[SA_TF_BODY] = shieldBody;
    MatchRecord match{0, {shipBody, laserBody, shieldBody}};
    g_TypeDB.matches = &match;
    g_TypeDB.matchCount = 1;
    EXPECT_EQ(Int(210, {SA_MT_SHIP, 0, SA_MT_LASER, 0}), SA_TypeCode(SA_MT_SHIELD, kPlain));
    EXPECT_EQ(Int(211, {SA_MT_SHIP + 0x10000, 0, SA_MT_LASER, 0, 5}), SA_TypeCode(SA_MT_SHIELD, kPlain));
    EXPECT_EQ(Int(210, {SA_MT_LASER, 0, SA_MT_SHIP, 0}), 0);
    EXPECT_EQ(Int(210, {SA_MT_SHIP, 2, SA_MT_LASER, 0}), 0);
    g_TypeDB.matches = nullptr;
    g_TypeDB.matchCount = 0;
}

TEST_F(TypeCalls, DockPorts) {
    DockPortEntry entries[] = {{1, 2, 0x8 | kStartOnly, 0}, {3, 4, 0x8 | 0x40, 0}};
    DockPortList list{2, 0x48, entries};
    TypeRecord* dock = SA_GetTypeRecord(SA_MT_DOCK, kPlain);
    dock->dockPorts = &list;
    // Ship 0 is of class 3: bit 0x8.
    struct Case {
        int32_t call;
        std::vector<int32_t> args;
        int32_t answer;
    } cases[] = {
        {159, {SA_MT_DOCK, kPlain}, 2},
        {159, {SA_MT_DOCK, kNumbered}, 0},
        {160, {SA_MT_DOCK, kPlain}, 2},
        {161, {SA_MT_DOCK, kPlain, 3}, 1},
        {161, {SA_MT_DOCK, kPlain, 35}, 1},  // bit n mod 32
        {161, {SA_MT_DOCK, kPlain, 4}, 0},
        {161, {SA_MT_LASER, kPlain, 3}, 0},
        {162, {SA_MT_DOCK, kPlain, 0, kNumbered, 0}, 1},  // a start from a start-only port
        {162, {SA_MT_DOCK, kPlain, 0, kNumbered, 1}, 0},  // but no landing
        {162, {SA_MT_DOCK, kPlain, 1, kNumbered, 1}, 1},
        {162, {SA_MT_DOCK, kPlain, 1, kPlain, 1}, 0},  // class 5 has no bit there
        {162, {SA_MT_DOCK, kPlain, 2, kNumbered, 1}, 0},
        {162, {SA_MT_DOCK, kPlain, 1, 2, 1}, 0},
        {163, {SA_MT_DOCK, kPlain, 1}, 0x48},
        {163, {SA_MT_DOCK, kPlain, -1}, 0},
        {164, {SA_MT_DOCK, kPlain}, static_cast<int32_t>(0x48 | kStartOnly)},
    };
    for (const Case& c : cases) EXPECT_EQ(Int(c.call, c.args), c.answer) << SA_GetCallNames()[c.call];
    dock->dockPorts = nullptr;
}

// Call 228 appends the next background, names it and resolves its bodies;
// what the record cannot hold is refused.
TEST_F(TypeCalls, SetBgTypeDataAppendsAndResolvesBodies) {
    const int32_t count = g_TypeDB.counts[SA_MT_BACKGROUND];
    auto args = [](int32_t subType, int32_t stars, int32_t nebulas, int32_t outers) {
        return std::vector<ScriptValue>{
            I(subType), T("veil"),   I(stars), I(nebulas), I(outers), SysCallRunner::IntArray({1, 2, 3, 4, 5, 6, 7, 8}),
            I(40),      I(0x102030), I(-5),    I(100),     I(900),    I(60),
            I(0xFF8001)};
    };
    struct Refused {
        int32_t subType, stars, nebulas, outers;
        const char* line;
    } refused[] = {
        {-1, 1, 1, 1, "SA_SetBgTypeData(-1) "},          {count + 1, 1, 1, 1, "invalid subtype"},
        {count, 17, 1, 1, "invalid body counts 17 1 1"}, {count, 1, 17, 1, "invalid body counts 1 17 1"},
        {count, 1, 1, 9, "invalid body counts 1 1 9"},   {count, -1, 1, 1, "invalid body counts -1 1 1"},
    };
    for (const Refused& r : refused) {
        LogCapture log;
        EXPECT_EQ(Call(228, args(r.subType, r.stars, r.nebulas, r.outers)), "0");
        EXPECT_TRUE(log.Contains(r.line)) << log.Text();
        EXPECT_EQ(g_TypeDB.counts[SA_MT_BACKGROUND], count);
    }
    EXPECT_EQ(Call(228, args(count, 3, 16, 8)), "0");
    ASSERT_EQ(g_TypeDB.counts[SA_MT_BACKGROUND], count + 1);
    const TypeRecord& t = *SA_GetTypeRecord(SA_MT_BACKGROUND, count);
    EXPECT_STREQ(t.name, ("SS_BG_" + std::to_string(count + 1)).c_str());
    const std::string path = "environments\\nebulae\\veil\\nebula_veil";
    for (int32_t i = 0; i < 3; ++i)
        EXPECT_EQ(Int(227, {count, i}), B3D_GetBodyID((path + "_stars_0" + std::to_string(i + 1)).c_str()));
    for (int32_t i = 3; i < 16; ++i) EXPECT_EQ(Int(227, {count, i}), 0);
    EXPECT_EQ(Int(226, {count, 15}), B3D_GetBodyID((path + "_background_16").c_str()));
    EXPECT_EQ(t.field[SA_TF_BG_OUTERS + 7], B3D_GetBodyID((path + "_outside_part08").c_str()));
    EXPECT_EQ(t.field[SA_TF_BG_DUSTS], B3D_GetBodyID((path + "_dust_part01").c_str()));
    for (int32_t s = 0; s < count; ++s)  // the numbered backgrounds hold no bodies
        for (int32_t f = SA_TF_BG_STARS; f < SA_TF_BG_DUSTS + SA_BG_DUSTS; ++f)
            SA_GetTypeRecord(SA_MT_BACKGROUND, s)->field[f] = 0;
    EXPECT_EQ(Int(229, {B3D_GetBodyID((path + "_dust_part08").c_str())}), count);
    EXPECT_EQ(Int(229, {B3D_GetBodyID("nowhere")}), -1);
    // Later queries of the new subtype read what the call stored.
    EXPECT_EQ(Call(214, {I(count)}), "\"veil\"");
    EXPECT_EQ(Int(215, {count}), 3);
    EXPECT_EQ(Int(216, {count}), 16);
    EXPECT_EQ(Int(217, {count}), 8);
    EXPECT_EQ(Int(218, {count, 5}), 6);
    EXPECT_EQ(Int(219, {count}), 40);
    EXPECT_EQ(Int(220, {count}), 0x102030);
    EXPECT_EQ(Int(221, {count}), -5);
    EXPECT_EQ(Int(222, {count}), 100);
    EXPECT_EQ(Int(223, {count}), 900);
    EXPECT_EQ(Int(224, {count}), 60);
    EXPECT_EQ(Int(225, {count}), 0xFF8001);
    // An existing subtype keeps its name and, without a family name, its family.
    std::vector<ScriptValue> again = args(count, 1, 1, 1);
    SV_Release(&again[1]);
    again[1] = I(0);
    EXPECT_EQ(Call(228, std::move(again)), "0");
    EXPECT_EQ(g_TypeDB.counts[SA_MT_BACKGROUND], count + 1);
    EXPECT_STREQ(t.name, ("SS_BG_" + std::to_string(count + 1)).c_str());
    EXPECT_EQ(Call(214, {I(count)}), "\"veil\"");
    EXPECT_EQ(Int(227, {count, 1}), 0);
    // Body indexes outside the record are refused.
    for (int32_t call : {226, 227})
        for (int32_t index : {-1, 16}) {
            LogCapture log;
            EXPECT_EQ(Int(call, {count, index}), 0);
            EXPECT_TRUE(log.Contains("invalid body index")) << log.Text();
        }
    LogCapture log;
    EXPECT_EQ(Int(218, {count, 8}), 0);
    EXPECT_TRUE(log.Contains("SA_GetBgTypeDustBodyRate(" + std::to_string(count) + ", 8) (")) << log.Text();
}

// The named table names each field of a main type once, and the demo's types
// source names its columns with it.
TEST_F(TypeCalls, OneNameForEveryFieldAndTheSourceUsesIt) {
    for (int32_t m = 0; m < SA_MAIN_TYPE_COUNT; ++m) {
        std::set<int32_t> fields;
        std::set<std::string> names;
        for (int32_t i = 0; i < g_SATypeFieldNameCount; ++i) {
            const SA_TypeFieldName& n = g_SATypeFieldNames[i];
            if (n.mainType != SA_EVERY_MAIN_TYPE && n.mainType != m) continue;
            EXPECT_TRUE(fields.insert(n.field).second) << m << ": field " << n.field << " named twice";
            EXPECT_TRUE(names.insert(n.name).second) << m << ": " << n.name;
            EXPECT_EQ(SA_TypeFieldByName(m, n.name), n.field);
        }
    }
    EXPECT_EQ(SA_TypeFieldByName(SA_MT_SHIP, "guidance"), -1);
    const char* root = std::getenv("TREVAN_SOURCE_DIR");
    std::ifstream in(std::string(root ? root : ".") + "/data/types/space.types");
    ASSERT_TRUE(in.good());
    std::stringstream source;
    source << in.rdbuf();
    // Comments wrap: a name may go on in the next comment line.
    std::string text = source.str();
    for (size_t at; (at = text.find("\n# ")) != std::string::npos;) text.replace(at, 3, " ");
    for (int32_t i = 0; i < g_SATypeFieldNameCount; ++i)
        EXPECT_NE(text.find(g_SATypeFieldNames[i].name), std::string::npos) << g_SATypeFieldNames[i].name;
}

}  // namespace

namespace {

class TypeCallStory : public SpaceStoryTest {
protected:
    int32_t Run(const char* fn) {
        runner_->answers.clear();
        runner_->Start(0, fn);
        EXPECT_EQ(runner_->answers.size(), 1u) << fn;
        return runner_->answers.empty() ? -999 : runner_->answers.back().n;
    }
};

// From a story the calls answer the task, and a bad type's line names the
// story's place.
TEST_F(TypeCallStory, AStoryCountsSubtypesAndAppendsABackground) {
    Types(SA_MT_SHIP, 3);
    SetUpStory(R"(
        end
    .func "Ships" need 8
        pushw 7
        pushw 1
        sys "SA_GetNumSubTypes"
        ret
    .func "Bad" need 8
        pushw 32
        pushw 1
        sys "SA_GetNumSubTypes"
        ret
    .func "Append" need 8
        pushw 3
        pushw 0
        pushw 0
        pushw 2
        pushw 1
        pushw 2
        pushs "veil"
        pushw 0
        pushw 8
        sys "SA_SetBgTypeData"
        pop
        pushw 0
        pushw 1
        sys "SA_GetBgTypeNumBgStarBodies"
        ret
    )");
    EXPECT_EQ(Run("Ships"), 3);
    LogCapture log;
    EXPECT_EQ(Run("Bad"), 0);
    EXPECT_TRUE(log.Contains("ERROR: Invalid maintype parameter 32 ")) << log.Text();
    EXPECT_FALSE(log.Contains("NoStory")) << log.Text();
    EXPECT_EQ(Run("Append"), 2);
    ASSERT_EQ(g_TypeDB.counts[SA_MT_BACKGROUND], 1);
    EXPECT_STREQ(SA_GetTypeRecord(SA_MT_BACKGROUND, 0)->name, "SS_BG_1");
    EXPECT_STREQ(SA_GetTypeRecord(SA_MT_BACKGROUND, 0)->backgroundName, "veil");
}

}  // namespace
