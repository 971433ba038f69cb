// What the operator does on a quicklook panel: the manual colour-scale box.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "Common/DateTime.h"
#include "Display/QuicklookChannel.h"
#include "Display/QuicklookScaleDlg.h"

namespace OrlaqLidar {
namespace {

constexpr int kRows = 32;
const TDateTime kNoon = EncodeDateTime(2024, 6, 1, 12, 0, 0);

TDateTime Minutes(double m) { return kNoon + m / 1440.0; }

void AddMinute(TQuicklookChannel& ch, int m, double value) {
  ch.AddProfile(Minutes(m), Minutes(m) + 59 / 86400.0, std::vector<double>(kRows, value), false);
}

class QuicklookInteraction : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "QuicklookInteractionTest";
    static char* argv[] = {name, nullptr};
    // Kept to the end of the process, as Qt wants its application object.
    if (!QApplication::instance()) new QApplication(argc, argv);
  }
};

TEST_F(QuicklookInteraction, ScaleBoxRefusesAnInvertedScaleThenSetsTheChannelsLimits) {
  TQuicklookChannel ch(1, "532 nm", kRows, 100e-9, 0);
  for (int m = 0; m < 10; ++m) AddMinute(ch, m, 100.0 * (m + 1));
  TQuicklookScaleDlg dlg(ch.ColorScale(), ch.Slices().ScaleMax(), ch.Slices().ScaleMin());
  EXPECT_FALSE(dlg.ManualBox()->isChecked());
  EXPECT_FALSE(dlg.MaxEdit()->text().isEmpty()) << "starts from the limits shown";

  dlg.MaxEdit()->setText("1");
  dlg.MinEdit()->setText("1000");
  dlg.ManualBox()->setChecked(true);
  dlg.accept();
  EXPECT_EQ(dlg.result(), QDialog::Rejected) << "still open";
  EXPECT_EQ(dlg.Refusal(), "Max scale must be greater than Min scale !");
  EXPECT_FALSE(dlg.Result().Manual);

  dlg.MaxEdit()->setText("1000");
  dlg.MinEdit()->setText("1");
  dlg.accept();
  ASSERT_EQ(dlg.result(), QDialog::Accepted);
  ch.SetColorScale(dlg.Result());
  EXPECT_TRUE(ch.Slices().Manual());
  EXPECT_DOUBLE_EQ(ch.Slices().ScaleMax(), 9);
  EXPECT_DOUBLE_EQ(ch.Slices().ScaleMin(), 6);
}

}  // namespace
}  // namespace OrlaqLidar
