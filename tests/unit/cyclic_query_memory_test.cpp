// A long cyclic query holds no more memory than a short one: 10,000 exchanges on the
// virtual clock, the window's logic with its real port component and event thread,
// the journal and ornat-cli's exchange recorder as watch sets it up; the heap in use
// after the 10,000th exchange is that after the 100th.

#include <gtest/gtest.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <filesystem>

#include "cli/headless_window.h"
#include "journal/exchange_journal.h"
#include "support/simulated_form.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ORNAT_SANITIZER_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ORNAT_SANITIZER_ALLOCATOR 1
#endif
#endif

namespace ornat::testing {
namespace {

TEST(CyclicQueryMemory, TheHeapInUseAfterTenThousandExchangesIsThatAfterTheFirstHundred) {
#if !defined(__GLIBC__)
  GTEST_SKIP() << "the heap in use is read with glibc's mallinfo2, which this C library lacks";
#elif defined(ORNAT_SANITIZER_ALLOCATOR)
  GTEST_SKIP() << "a sanitizer's allocator keeps freed blocks in quarantine and does not "
                  "report to mallinfo2: the figure says nothing here";
#else
  SimulatedForm t;
  ExchangeJournal journal((std::filesystem::path(t.dir.path()) / "journal.jsonl").string(),
                          "ornat-cli");
  cli::ExchangeRecorder recorder;
  recorder.Keep(false);  // as watch has it: every line printed, none kept
  std::size_t told = 0;
  recorder.OnEnd([&](const ExchangeRecord&) { ++told; });
  t.exchanges.Add(&journal);
  t.exchanges.Add(&recorder);
  t.Click(t.w().TeCheckBox1);  // "В ЦИКЛЕ"
  t.Click(t.w().TeButton5);    // "ЗАПРОС ПАРАМЕТРОВ"
  std::size_t after_100 = 0;
  for (int n = 1; n <= 10'000; ++n) {
    ASSERT_TRUE(t.RunToCompletion()) << "exchange " << n;
    // What the test's line and device record is theirs, not the window's.
    t.ForgetHistory();
    if (n == 100) after_100 = mallinfo2().uordblks;
  }
  const std::size_t after_10000 = mallinfo2().uordblks;
  EXPECT_EQ(told, 10'000u);
  EXPECT_EQ(t.LogLines().back(), "   : \u041E\u041A.");
  // Every cycle allocates and frees the same (the event thread, joined at each
  // completion, takes its allocator cache with it): the figure is the same to the byte
  // on glibc. 4 KB leaves room for the allocator's own bookkeeping, not for anything
  // kept per exchange: half a byte per exchange over 9,900 would exceed it.
  EXPECT_LE(after_10000, after_100 + 4096) << "heap in use after exchange 100: " << after_100;
#endif
}

}  // namespace
}  // namespace ornat::testing
