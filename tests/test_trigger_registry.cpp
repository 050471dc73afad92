// Function and operation registry: initial tables, lookups, registration,
// and the built-in operations judged through qal3_is_trigger_on.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>

#include "qal3_evutl_blocks.h"
#include "test_util.h"
#include "trigger_facts.h"
#include "user_case_trigger.h"

namespace {

char* mut(const char* s) { return const_cast<char*>(s); }

// Registration changes process-wide tables that the other tests of this
// binary rely on, so it runs in a forked child. `body` returns "" when all
// is well, or a description of the first failure.
void run_isolated(const std::function<std::string()>& body) {
  EXPECT_EXIT(
      {
        const std::string failure = body();
        std::fputs(failure.c_str(), stderr);
        std::fflush(stderr);
        std::_Exit(failure.empty() ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

#define CHECK_EQ_ISO(a, b)                                                                              \
  do {                                                                                                  \
    if (!((a) == (b))) return std::string(__FILE__ ":") + std::to_string(__LINE__) + ": " #a " != " #b; \
  } while (0)

// A record judged on a name/value block whose value is `result`.
class Judge {
 public:
  Judge() {
    t_ = static_cast<qal3_user_case_trigger*>(std::calloc(1, sizeof(qal3_user_case_trigger)));
    t_->function = 6;  // VALUE
  }
  ~Judge() {
    std::free(t_->fresult);
    std::free(t_);
  }
  Judge(const Judge&) = delete;
  Judge& operator=(const Judge&) = delete;

  int operator()(int op, float result, float low = 0.0f, float upper = 0.0f, u_int mask = 0) {
    qal3_serv_block_subhead_2010* block = qal3_evutl_make_namval("NV", 1, &result);
    t_->operation = op;
    t_->low = low;
    t_->upper = upper;
    t_->bitmask = mask;
    const int fired = qal3_is_trigger_on(block, t_);
    qal3_evutl_free_block(block);
    return fired;
  }
  qal3_user_case_trigger* record() { return t_; }

 private:
  qal3_user_case_trigger* t_;
};

enum { GT, GTE, EQ, LTE, LT, INSIDE, INSIDE_INCL, OUTSIDE, OUTSIDE_INCL, AND, TRUE_, FALSE_, BITS };

const char kWindowHelp[] =
    "parameters 0:start(usec)[x0] 1:end(usec)[y0] 2:incr(samples)[x half size] 3:[y half size] "
    "4:[form of ROI]";

}  // namespace

// ---------------------------------------------------------------------------
// Initial contents and lookups.

TEST(TriggerRegistry, NamesAndIndexLookups) {
  EXPECT_STREQ(qal3_get_function_string(2), "MEAN");
  EXPECT_STREQ(qal3_get_function_string(15), "DIFFP2P");
  EXPECT_STREQ(qal3_get_function_string(16), "FUNC16");
  EXPECT_STREQ(qal3_get_operation_string(12), "BITS");
  EXPECT_STREQ(qal3_get_operation_string(13), "OP13");
  for (int i : {32, -1, INT_MIN, INT_MAX}) {
    EXPECT_STREQ(qal3_get_function_string(i), "UNKNOWN");
    EXPECT_STREQ(qal3_get_function_help(i), "UNKNOWN");
    EXPECT_STREQ(qal3_get_operation_string(i), "UNKNOWN");
    EXPECT_STREQ(qal3_get_operation_help(i), "UNKNOWN");
  }
  // Every slot's name leads back to the slot.
  for (int i = 0; i < 32; ++i) {
    EXPECT_EQ(qal3_get_function_index(qal3_get_function_string(i)), i);
    EXPECT_EQ(qal3_get_operation_index(qal3_get_operation_string(i)), i);
  }
  EXPECT_EQ(qal3_get_function_index(mut("mean")), -1);
  EXPECT_EQ(qal3_get_function_index(mut("MEAN ")), -1);
  EXPECT_EQ(qal3_get_function_index(mut("")), -1);
  EXPECT_EQ(qal3_get_function_index(nullptr), -1);
  EXPECT_EQ(qal3_get_operation_index(mut("MEAN")), -1);
  EXPECT_EQ(qal3_get_operation_index(nullptr), -1);
}

TEST(TriggerRegistry, HelpTextsKeepTheirSpacing) {
  EXPECT_EQ(std::string(qal3_get_function_help(2)),
            std::string("MEAN : mean value    in a spectrum/image   ") + kWindowHelp);
  EXPECT_EQ(std::string(qal3_get_function_help(4)),
            std::string("STD : standard deviation in a spectrum/image ") + kWindowHelp);
  EXPECT_STREQ(qal3_get_function_help(6),
               "VALUE : value in a selected position parameters 0:position(usec)[x0]  1:[y0]  "
               "none in case of slow channel");
  EXPECT_STREQ(qal3_get_function_help(31), "FUNC31 : undefined");
  EXPECT_STREQ(qal3_get_operation_help(10), "TRUE : always TRUE");
  EXPECT_STREQ(qal3_get_operation_help(7), "OUTSIDE : Low Limit (LL) > result  OR result > Upper Limit (UL)");
  EXPECT_STREQ(qal3_get_operation_help(12), "BITS : (result & bitmask) - at least one bit present");
}

// ---------------------------------------------------------------------------
// Registration (each case in its own process).

bool user_fun_fails(void*, qal3_user_case_trigger*) { return true; }
bool user_fun_42(void*, qal3_user_case_trigger* u) {
  if (!u->fresult) u->fresult = static_cast<float*>(std::malloc(sizeof(float)));
  *u->fresult = 42.0f;
  return false;
}
bool user_fun_throws(void*, qal3_user_case_trigger*) { throw std::runtime_error("user"); }
float g_seen[3];
u_int g_seen_mask;
bool user_op_records(float r, float ll, float ul, u_int mask) {
  g_seen[0] = r;
  g_seen[1] = ll;
  g_seen[2] = ul;
  g_seen_mask = mask;
  return true;
}

TEST(TriggerRegistryDeathTest, AddsTakeTheLowestFreeSlotUntilFull) {
  run_isolated([] {
    static char name[] = "MYFUNC";
    static char undefined_copy[] = "undefined";  // free is decided by content
    CHECK_EQ_ISO(qal3_add_user_function(user_fun_42, mut("TEMP"), undefined_copy), 16);
    CHECK_EQ_ISO(qal3_add_user_function(user_fun_42, name, mut("forty-two")), 16);
    CHECK_EQ_ISO(qal3_get_function_index(mut("MYFUNC")), 16);
    CHECK_EQ_ISO(qal3_get_function_index(mut("FUNC16")), -1);
    CHECK_EQ_ISO(qal3_get_function_string(16), name);  // the pointer given, not a copy
    CHECK_EQ_ISO(std::string(qal3_get_function_help(16)), "MYFUNC : forty-two");
    for (int i = 17; i < 32; ++i) CHECK_EQ_ISO(qal3_add_user_function(user_fun_fails, mut("X"), mut("x")), i);
    CHECK_EQ_ISO(qal3_add_user_function(user_fun_fails, mut("Y"), mut("y")), -1);  // 17th
    CHECK_EQ_ISO(qal3_get_function_index(mut("Y")), -1);
    for (int i = 13; i < 32; ++i) CHECK_EQ_ISO(qal3_add_user_operation(user_op_records, mut("O"), mut("o")), i);
    CHECK_EQ_ISO(qal3_add_user_operation(user_op_records, mut("P"), mut("p")), -1);  // 20th
    // A built-in slot changed to "undefined" becomes free again.
    CHECK_EQ_ISO(qal3_change_user_operation(user_op_records, 3, mut("LTE2"), undefined_copy), 3);
    CHECK_EQ_ISO(qal3_add_user_operation(user_op_records, mut("NEWOP"), mut("new")), 3);
    return std::string();
  });
}

// The front ends' question (trigger_facts.h) finds the slot the registry
// takes as free, named or nameless, whatever the other help texts end with.
TEST(TriggerRegistryDeathTest, FrontEndsSeeTheFreeSlotsTheRegistryTakes) {
  run_isolated([] {
    using qal3::trigger::slot_free;
    static char undefined_copy[] = "undefined";
    const auto first_free = [](bool function) {
      for (int i = 0; i < qal3::trigger::kSlots; ++i)
        if (slot_free(i, function)) return i;
      return -1;
    };
    CHECK_EQ_ISO(qal3_change_user_function(user_fun_42, 16, mut("A"), mut("a : undefined")), 16);
    CHECK_EQ_ISO(qal3_change_user_function(nullptr, 17, nullptr, undefined_copy), 17);
    CHECK_EQ_ISO(qal3_change_user_operation(user_op_records, 2, mut("EQ"), undefined_copy), 2);
    CHECK_EQ_ISO(first_free(true), 17);
    CHECK_EQ_ISO(qal3_add_user_function(user_fun_42, mut("F"), mut("f")), 17);
    CHECK_EQ_ISO(first_free(false), 2);
    CHECK_EQ_ISO(qal3_add_user_operation(user_op_records, mut("O"), mut("o")), 2);
    CHECK_EQ_ISO(slot_free(-1, true) || slot_free(qal3::trigger::kSlots, false), false);
    CHECK_EQ_ISO(std::string(qal3::trigger::bare_help(qal3_get_function_help(16), qal3_get_function_string(16))),
                 "a : undefined");
    return std::string();
  });
}

TEST(TriggerRegistryDeathTest, ChangeReplacesBuiltInsAndRefusesBadIndices) {
  run_isolated([] {
    CHECK_EQ_ISO(qal3_change_user_operation(user_op_records, 0, mut("REC"), mut("records")), 0);
    CHECK_EQ_ISO(qal3_get_operation_index(mut("GT")), -1);
    CHECK_EQ_ISO(qal3_get_operation_index(mut("REC")), 0);
    CHECK_EQ_ISO(qal3_change_user_function(user_fun_42, 32, mut("BAD"), mut("bad")), -1);
    CHECK_EQ_ISO(qal3_change_user_function(user_fun_42, -1, mut("BAD"), mut("bad")), -1);
    CHECK_EQ_ISO(qal3_change_user_operation(user_op_records, 32, mut("BAD"), mut("bad")), -1);
    CHECK_EQ_ISO(qal3_get_function_index(mut("BAD")), -1);
    CHECK_EQ_ISO(qal3_get_operation_index(mut("BAD")), -1);
    CHECK_EQ_ISO(std::string(qal3_get_function_string(0)), "MIN");

    // The evaluation calls the new operation with result, low, upper, mask.
    Judge judge;
    CHECK_EQ_ISO(judge(0, 7.5f, 1.25f, 2.5f, 0xABCDu), 1);
    CHECK_EQ_ISO(g_seen[0], 7.5f);
    CHECK_EQ_ISO(g_seen[1], 1.25f);
    CHECK_EQ_ISO(g_seen[2], 2.5f);
    CHECK_EQ_ISO(g_seen_mask, 0xABCDu);

    // A replaced built-in function slot is used by records that name it.
    CHECK_EQ_ISO(qal3_change_user_function(user_fun_42, 6, mut("VALUE42"), mut("42")), 6);
    CHECK_EQ_ISO(judge(TRUE_, 1.0f), 1);
    CHECK_EQ_ISO(*judge.record()->fresult, 42.0f);
    return std::string();
  });
}

TEST(TriggerRegistryDeathTest, NullOrThrowingRegistrationsNeverFire) {
  run_isolated([] {
    CHECK_EQ_ISO(qal3_change_user_function(nullptr, 16, nullptr, nullptr), 16);
    CHECK_EQ_ISO(std::string(qal3_get_function_string(16)), "UNKNOWN");
    CHECK_EQ_ISO(std::string(qal3_get_function_help(16)), " : ");
    CHECK_EQ_ISO(qal3_get_function_index(mut("FUNC16")), -1);
    CHECK_EQ_ISO(qal3_get_function_index(mut("FUNC17")), 17);                   // lookups skip the null name
    CHECK_EQ_ISO(qal3_add_user_function(user_fun_42, mut("F"), mut("f")), 17);  // null help: not free
    CHECK_EQ_ISO(qal3_change_user_function(user_fun_throws, 18, mut("T"), mut("t")), 18);
    CHECK_EQ_ISO(qal3_change_user_operation(nullptr, 13, mut("N"), mut("n")), 13);

    float v = 1.0f;
    qal3_serv_block_subhead_2010* block = qal3_evutl_make_namval("NV", 1, &v);
    qal3_user_case_trigger t{};
    t.operation = TRUE_;
    t.function = 16;
    const int null_fun = qal3_is_trigger_on(block, &t);
    t.function = 18;
    const int throwing = qal3_is_trigger_on(block, &t);
    t.function = 17;
    t.operation = 13;
    const int null_op = qal3_is_trigger_on(block, &t);
    std::free(t.fresult);
    qal3_evutl_free_block(block);
    CHECK_EQ_ISO(null_fun, 0);
    CHECK_EQ_ISO(throwing, 0);
    CHECK_EQ_ISO(null_op, 0);
    return std::string();
  });
}

// ---------------------------------------------------------------------------
// Built-in operations.

TEST(TriggerOperations, ComparisonsRangesAndBitMasks) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const struct {
    int op;
    float result, low, upper;
    u_int mask;
    int fires;
  } cases[] = {
      // Each comparison looks at its own limit only.
      {GT, 3, 100, 2, 0, 1},
      {GT, 2, -5, 2, 0, 0},
      {GTE, 2, 100, 2, 0, 1},
      {EQ, 2, 2, 7, 0, 1},
      {EQ, 7, 2, 7, 0, 0},
      {LTE, 2, 2, -100, 0, 1},
      {LT, 2, 2, 100, 0, 0},
      {LT, 1.5f, 2, -100, 0, 1},
      // Ranges at and between the limits.
      {INSIDE, 1.5f, 1, 2, 0, 1},
      {INSIDE, 1, 1, 2, 0, 0},
      {INSIDE, 2, 1, 2, 0, 0},
      {INSIDE_INCL, 1, 1, 2, 0, 1},
      {INSIDE_INCL, 2, 1, 2, 0, 1},
      {OUTSIDE_INCL, 1, 1, 2, 0, 1},
      {OUTSIDE_INCL, 1.5f, 1, 2, 0, 0},
      {OUTSIDE, 1, 1, 2, 0, 0},
      {OUTSIDE, 0.5f, 1, nan, 0, 1},
      {OUTSIDE, 2.5f, 1, 2, 0, 1},
      // A NaN result fails every comparison; TRUE and AND with mask 0 still fire.
      {GT, nan, 1, 2, 0, 0},
      {GTE, nan, 1, 2, 0, 0},
      {EQ, nan, 1, 2, 0, 0},
      {LTE, nan, 1, 2, 0, 0},
      {LT, nan, 1, 2, 0, 0},
      {INSIDE, nan, 1, 2, 0, 0},
      {INSIDE_INCL, nan, 1, 2, 0, 0},
      {OUTSIDE, nan, 1, 2, 0, 0},
      {OUTSIDE_INCL, nan, 1, 2, 0, 0},
      {TRUE_, nan, 0, 0, 0, 1},
      {FALSE_, 1, 0, 0, 0, 0},
      {AND, nan, 0, 0, 0, 1},
      {AND, nan, 0, 0, 1, 0},
      {BITS, nan, 0, 0, 0xFFFFFFFFu, 0},
      // Bit masks on the result truncated and saturated to 32 unsigned bits.
      {AND, 123, 0, 0, 0, 1},
      {BITS, 123, 0, 0, 0, 0},
      {AND, 7, 0, 0, 0x5, 1},
      {AND, 4, 0, 0, 0x5, 0},
      {BITS, 4, 0, 0, 0x5, 1},
      {BITS, 2, 0, 0, 0x5, 0},
      {AND, -3, 0, 0, 0x1, 0},
      {AND, -3, 0, 0, 0, 1},
      {BITS, -3, 0, 0, 0x3, 0},
      {AND, 3.9f, 0, 0, 0x3, 1},
      {AND, 3.9f, 0, 0, 0x4, 0},
      {AND, 5e9f, 0, 0, 0xFFFFFFFFu, 1},
      {AND, INFINITY, 0, 0, 0xFFFFFFFFu, 1},
      {BITS, -INFINITY, 0, 0, 0xFFFFFFFFu, 0},
      {AND, 4294967040.0f, 0, 0, 0xFF, 0},
      {BITS, 4294967040.0f, 0, 0, 0xFF00, 1},
      {AND, 2147483648.0f, 0, 0, 0x80000000u, 1},
      // From 2^32 up every bit is set. 2^32 - 1 has no float of its own: it rounds to 2^32.
      {AND, 4294967295.0f, 0, 0, 0xFFFFFFFFu, 1},
      {BITS, 4294967295.0f, 0, 0, 0x1, 1},
      {AND, 4294967296.0f, 0, 0, 0xFFFFFFFFu, 1},
      {BITS, 4294967296.0f, 0, 0, 0x1, 1},
      {AND, 4294967808.0f, 0, 0, 0x80000001u, 1},
      {BITS, 4294967808.0f, 0, 0, 0x1, 1},
      {BITS, 1e30f, 0, 0, 0x1, 1},
  };
  Judge judge;
  for (const auto& c : cases)
    EXPECT_EQ(judge(c.op, c.result, c.low, c.upper, c.mask), c.fires)
        << "op " << c.op << " result " << c.result << " LL " << c.low << " UL " << c.upper << " mask " << c.mask;
  for (int op = 13; op < 32; ++op) EXPECT_EQ(judge(op, 1.0f, 0.0f, 2.0f, 1u), 0) << op;
}
