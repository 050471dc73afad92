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

#define CHECK_EQ_ISO(a, b)                                                            \
  do {                                                                                \
    if (!((a) == (b))) return std::string(__FILE__ ":") + std::to_string(__LINE__) + \
                              ": " #a " != " #b;                                     \
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

TEST(TriggerRegistry, InitialNamesInSlotOrder) {
  const char* const functions[16] = {"MIN",     "MAX",     "MEAN",     "RMS",     "STD",    "SUM",
                                     "VALUE",   "P2P",     "DIFFMIN",  "DIFFMAX", "DIFFMEAN",
                                     "DIFFRMS", "DIFFSTD", "DIFFSUM",  "DIFFVALUE", "DIFFP2P"};
  for (int i = 0; i < 16; ++i) EXPECT_STREQ(qal3_get_function_string(i), functions[i]) << i;
  for (int i = 16; i < 32; ++i)
    EXPECT_EQ(std::string(qal3_get_function_string(i)), "FUNC" + std::to_string(i));
  const char* const operations[13] = {"GT",      "GTE",     "EQ",     "LTE",
                                      "LT",      "INSIDE",  "INSIDEWITHLIMITS",
                                      "OUTSIDE", "OUTSIDEWITHLIMITS", "AND",
                                      "TRUE",    "FALSE",   "BITS"};
  for (int i = 0; i < 13; ++i) EXPECT_STREQ(qal3_get_operation_string(i), operations[i]) << i;
  for (int i = 13; i < 32; ++i)
    EXPECT_EQ(std::string(qal3_get_operation_string(i)), "OP" + std::to_string(i));
}

TEST(TriggerRegistry, OutOfRangeIndicesAreUnknown) {
  for (int i : {32, -1, INT_MIN, INT_MAX}) {
    EXPECT_STREQ(qal3_get_function_string(i), "UNKNOWN");
    EXPECT_STREQ(qal3_get_function_help(i), "UNKNOWN");
    EXPECT_STREQ(qal3_get_operation_string(i), "UNKNOWN");
    EXPECT_STREQ(qal3_get_operation_help(i), "UNKNOWN");
  }
}

TEST(TriggerRegistry, HelpTextsKeepTheirSpacing) {
  EXPECT_EQ(std::string(qal3_get_function_help(2)),
            std::string("MEAN : mean value    in a spectrum/image   ") + kWindowHelp);
  EXPECT_EQ(std::string(qal3_get_function_help(4)),
            std::string("STD : standard deviation in a spectrum/image ") + kWindowHelp);
  EXPECT_STREQ(qal3_get_function_help(6),
               "VALUE : value in a selected position parameters 0:position(usec)[x0]  1:[y0]  "
               "none in case of slow channel");
  EXPECT_EQ(std::string(qal3_get_function_help(9)),
            std::string("DIFFMAX : difference maximum value with previous event in a "
                        "spectrum/image  ") +
                kWindowHelp);
  EXPECT_EQ(std::string(qal3_get_function_help(12)),
            std::string("DIFFSTD : difference of root standard deviation with previous event in a "
                        "spectrum/image ") +
                kWindowHelp);
  EXPECT_STREQ(qal3_get_function_help(14),
               "DIFFVALUE : difference of value in a selected position  with previous event "
               "parameters 0:position(usec)[x0]  1:[y0]  none in case of slow channel");
  EXPECT_STREQ(qal3_get_function_help(31), "FUNC31 : undefined");
  EXPECT_STREQ(qal3_get_operation_help(10), "TRUE : always TRUE");
  EXPECT_STREQ(qal3_get_operation_help(0), "GT : result >  Upper Limit (UL)");
  EXPECT_STREQ(qal3_get_operation_help(4), "LT : result <   Low Limit (LL)");
  EXPECT_STREQ(qal3_get_operation_help(7),
               "OUTSIDE : Low Limit (LL) > result  OR result > Upper Limit (UL)");
  EXPECT_STREQ(qal3_get_operation_help(8),
               "OUTSIDEWITHLIMITS : Low Limit (LL) >= result OR >= Upper Limit (UL)");
  EXPECT_STREQ(qal3_get_operation_help(9),
               "AND : ((result & bitmask) == bitmask) - all bits present");
  EXPECT_STREQ(qal3_get_operation_help(12), "BITS : (result & bitmask) - at least one bit present");
}

TEST(TriggerRegistry, HelpTextOutlivesTheCallUntilTheNextOne) {
  const std::string first = qal3_get_function_help(0);
  char* held = qal3_get_function_help(1);
  qal3_get_operation_help(3);  // the operation side has its own buffer
  EXPECT_EQ(std::string(held).rfind("MAX : maximum value", 0), 0u);
  EXPECT_NE(first, held);
}

TEST(TriggerRegistry, IndexLookupIsExactAndCaseSensitive) {
  EXPECT_EQ(qal3_get_function_index(mut("MEAN")), 2);
  EXPECT_EQ(qal3_get_function_index(mut("mean")), -1);
  EXPECT_EQ(qal3_get_function_index(mut("MEAN ")), -1);
  EXPECT_EQ(qal3_get_function_index(mut("FUNC16")), 16);
  EXPECT_EQ(qal3_get_function_index(mut("")), -1);
  EXPECT_EQ(qal3_get_function_index(nullptr), -1);
  EXPECT_EQ(qal3_get_operation_index(mut("BITS")), 12);
  EXPECT_EQ(qal3_get_operation_index(mut("OP31")), 31);
  EXPECT_EQ(qal3_get_operation_index(mut("MEAN")), -1);
  EXPECT_EQ(qal3_get_operation_index(nullptr), -1);
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

TEST(TriggerRegistryDeathTest, AddsFillFreeSlotsUpwardsUntilFull) {
  run_isolated([] {
    CHECK_EQ_ISO(qal3_add_user_function(user_fun_fails, mut("A"), mut("a")), 16);
    CHECK_EQ_ISO(qal3_add_user_function(user_fun_fails, mut("B"), mut("b")), 17);
    CHECK_EQ_ISO(qal3_add_user_function(user_fun_fails, mut("C"), mut("c")), 18);
    for (int i = 19; i < 32; ++i)
      CHECK_EQ_ISO(qal3_add_user_function(user_fun_fails, mut("X"), mut("x")), i);
    CHECK_EQ_ISO(qal3_add_user_function(user_fun_fails, mut("Y"), mut("y")), -1);  // 17th
    CHECK_EQ_ISO(qal3_get_function_index(mut("Y")), -1);
    for (int i = 13; i < 32; ++i)
      CHECK_EQ_ISO(qal3_add_user_operation(user_op_records, mut("O"), mut("o")), i);
    CHECK_EQ_ISO(qal3_add_user_operation(user_op_records, mut("P"), mut("p")), -1);  // 20th
    return std::string();
  });
}

TEST(TriggerRegistryDeathTest, AddedNameReplacesThePlaceholderName) {
  run_isolated([] {
    static char name[] = "MYFUNC";
    CHECK_EQ_ISO(qal3_add_user_function(user_fun_42, name, mut("forty-two")), 16);
    CHECK_EQ_ISO(qal3_get_function_index(mut("MYFUNC")), 16);
    CHECK_EQ_ISO(qal3_get_function_index(mut("FUNC16")), -1);
    CHECK_EQ_ISO(qal3_get_function_string(16), name);  // the pointer given, not a copy
    CHECK_EQ_ISO(std::string(qal3_get_function_help(16)), "MYFUNC : forty-two");
    return std::string();
  });
}

TEST(TriggerRegistryDeathTest, SlotWithUndefinedHelpStaysFree) {
  run_isolated([] {
    static char undefined_copy[] = "undefined";  // equal by content only
    CHECK_EQ_ISO(qal3_add_user_function(user_fun_42, mut("TEMP"), undefined_copy), 16);
    CHECK_EQ_ISO(qal3_add_user_function(user_fun_42, mut("NEXT"), mut("real")), 16);
    CHECK_EQ_ISO(qal3_add_user_function(user_fun_42, mut("THIRD"), mut("real")), 17);
    // A built-in slot changed to "undefined" becomes free, and the lowest
    // free slot wins.
    CHECK_EQ_ISO(qal3_change_user_operation(user_op_records, 3, mut("LTE2"), undefined_copy), 3);
    CHECK_EQ_ISO(qal3_add_user_operation(user_op_records, mut("NEWOP"), mut("new")), 3);
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
    CHECK_EQ_ISO(qal3_get_function_index(mut("FUNC17")), 17);  // lookups skip the null name
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

TEST(TriggerOperations, ComparisonsUseOnlyTheirLimit) {
  Judge j;
  EXPECT_EQ(j(GT, 3.0f, 100.0f, 2.0f), 1);   // low limit ignored
  EXPECT_EQ(j(GT, 2.0f, -5.0f, 2.0f), 0);
  EXPECT_EQ(j(GTE, 2.0f, 100.0f, 2.0f), 1);
  EXPECT_EQ(j(EQ, 2.0f, 2.0f, 7.0f), 1);
  EXPECT_EQ(j(EQ, 7.0f, 2.0f, 7.0f), 0);
  EXPECT_EQ(j(LTE, 2.0f, 2.0f, -100.0f), 1);
  EXPECT_EQ(j(LT, 2.0f, 2.0f, 100.0f), 0);
  EXPECT_EQ(j(LT, 1.5f, 2.0f, -100.0f), 1);
}

TEST(TriggerOperations, RangesAtAndBetweenTheLimits) {
  Judge j;
  EXPECT_EQ(j(INSIDE, 1.5f, 1.0f, 2.0f), 1);
  EXPECT_EQ(j(INSIDE, 1.0f, 1.0f, 2.0f), 0);
  EXPECT_EQ(j(INSIDE, 2.0f, 1.0f, 2.0f), 0);
  EXPECT_EQ(j(INSIDE_INCL, 1.0f, 1.0f, 2.0f), 1);
  EXPECT_EQ(j(INSIDE_INCL, 2.0f, 1.0f, 2.0f), 1);
  EXPECT_EQ(j(OUTSIDE_INCL, 1.0f, 1.0f, 2.0f), 1);
  EXPECT_EQ(j(OUTSIDE_INCL, 1.5f, 1.0f, 2.0f), 0);
  EXPECT_EQ(j(OUTSIDE, 1.0f, 1.0f, 2.0f), 0);
  EXPECT_EQ(j(OUTSIDE, 0.5f, 1.0f, NAN), 1);  // below LL fires without looking at UL
  EXPECT_EQ(j(OUTSIDE, 2.5f, 1.0f, 2.0f), 1);
}

TEST(TriggerOperations, NanResultFailsEveryComparison) {
  Judge j;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (int op = GT; op <= OUTSIDE_INCL; ++op) EXPECT_EQ(j(op, nan, 1.0f, 2.0f), 0) << op;
  EXPECT_EQ(j(TRUE_, nan), 1);
  EXPECT_EQ(j(FALSE_, 1.0f), 0);
  EXPECT_EQ(j(AND, nan, 0, 0, 0u), 1);
  EXPECT_EQ(j(AND, nan, 0, 0, 1u), 0);
  EXPECT_EQ(j(BITS, nan, 0, 0, 0xFFFFFFFFu), 0);
}

TEST(TriggerOperations, BitMasksOnTheSaturatedUnsignedResult) {
  Judge j;
  EXPECT_EQ(j(AND, 123.0f, 0, 0, 0u), 1);
  EXPECT_EQ(j(BITS, 123.0f, 0, 0, 0u), 0);
  EXPECT_EQ(j(AND, 7.0f, 0, 0, 0x5u), 1);
  EXPECT_EQ(j(AND, 4.0f, 0, 0, 0x5u), 0);
  EXPECT_EQ(j(BITS, 4.0f, 0, 0, 0x5u), 1);
  EXPECT_EQ(j(BITS, 2.0f, 0, 0, 0x5u), 0);
  EXPECT_EQ(j(AND, -3.0f, 0, 0, 0x1u), 0);  // negative counts as 0
  EXPECT_EQ(j(BITS, -3.0f, 0, 0, 0x3u), 0);
  EXPECT_EQ(j(AND, 3.9f, 0, 0, 0x3u), 1);  // truncated toward zero
  EXPECT_EQ(j(AND, 3.9f, 0, 0, 0x4u), 0);
  EXPECT_EQ(j(AND, 5e9f, 0, 0, 0xFFFFFFFFu), 1);  // saturates at all ones
  EXPECT_EQ(j(AND, INFINITY, 0, 0, 0xFFFFFFFFu), 1);
  EXPECT_EQ(j(BITS, -INFINITY, 0, 0, 0xFFFFFFFFu), 0);
  EXPECT_EQ(j(AND, 4294967040.0f, 0, 0, 0xFFu), 0);  // 0xFFFFFF00, below 2^32
  EXPECT_EQ(j(BITS, 4294967040.0f, 0, 0, 0xFF00u), 1);
  EXPECT_EQ(j(AND, 2147483648.0f, 0, 0, 0x80000000u), 1);  // beyond int, within u_int
}

TEST(TriggerOperations, PlaceholdersNeverFire) {
  Judge j;
  for (int op = 13; op < 32; ++op) EXPECT_EQ(j(op, 1.0f, 0.0f, 2.0f, 1u), 0) << op;
}
