// A simulated day of the field station: from 20:00 UTC on 31 December
// across midnight, the month and the year, every fault of the schedule,
// then the files read back. The figures are printed; wall time never judged.
#include <gtest/gtest.h>

#include <iostream>

#include "soak/SoakCheck.h"
#include "soak/SoakRun.h"

using namespace OrlaqLidar;

TEST(SoakDayTest, ADayUnattendedLosesNothingOutsideItsFaults) {
  TSoakOptions options;
  options.Days = 1;
  TSoakRun run(options);
  ASSERT_TRUE(run.Run()) << run.Error();
  TSoakFigures figures = run.Figures();
#if defined(__SANITIZE_ADDRESS__)
  figures.ResidentChecked = false;  // the sanitizer keeps freed memory aside
#endif
  figures.Print(std::cout);
  const auto failures = TSoakCheck::Failures(figures);
  for (const auto& f : failures) ADD_FAILURE() << f;

  // Every fault of a day was injected and the span crossed the year.
  int injected = 0;
  for (const auto& f : figures.Faults) {
    EXPECT_GT(f.Injected, 0) << f.Kind;
    injected += f.Injected;
  }
  EXPECT_EQ(injected, 5 + 3 + 2 + 1 + 1);
  EXPECT_GE(figures.HoursWithLaser, 23);
  EXPECT_GE(figures.UsbReopens, 8);
  EXPECT_EQ(figures.InsReconnects, 2);
  EXPECT_GE(figures.WatchdogReports, 1);  // each board of the tripped group reports it
  EXPECT_NE(figures.Span.find("2026-12-31"), std::string::npos) << figures.Span;
  EXPECT_NE(figures.Span.find("2027-01-01"), std::string::npos) << figures.Span;
}
