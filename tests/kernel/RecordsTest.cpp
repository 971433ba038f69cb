#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "kernel/AirinsData.h"
#include "kernel/DataNotValid.h"
#include "kernel/LidarData.h"
#include "kernel/LidarEvent.h"
#include "kernel/ManagedProfile.h"
#include "kernel/MonitorData.h"
#include "kernel/Profile.h"
#include "tests/TestSupport.h"

using namespace OrlaqLidar;

namespace {

TInfoDescription& AddInfo(TChannelConfig& channel, const std::string& name, int o, int b, int s) {
  auto d = std::make_unique<TInfoDescription>();
  d->Name = name;
  d->O = o;
  d->B = b;
  d->S = s;
  d->Div = 0;
  channel.InfoDescriptions.push_back(std::move(d));
  return *channel.InfoDescriptions.back();
}

TChannelConfig LidarChannel(int doorsCount, int doorsByte, int infoBytes) {
  TChannelConfig c;
  c.DoorsCount = doorsCount;
  c.DoorsUsed = doorsCount;
  c.DoorsByte = doorsByte;
  c.InfoBytes = infoBytes;
  return c;
}

class RecordsTest : public Test::TSimulatedTime {
 protected:
  bool Logged(const std::string& part) const {
    for (const auto& l : LogLines)
      if (l.find(part) != std::string::npos) return true;
    return false;
  }
};

// ---- TLidarData: length gate, gates, information fields ----

TEST_F(RecordsTest, OnlyTheExactRecordLengthMakesAValidShot) {
  TChannelConfig c = LidarChannel(2048, 4, 16);
  std::vector<uint8_t> block(8208, 0);

  TLidarData good(&c, block.data(), 8208);
  EXPECT_TRUE(good.IsValid());
  EXPECT_TRUE(LogLines.empty());

  TLidarData shortShot(&c, block.data(), 8207);
  EXPECT_FALSE(shortShot.IsValid());
  EXPECT_TRUE(Logged("Lidar Data have not the expected length (8207/8208)"));
  EXPECT_FALSE(shortShot.FirstDoor());
  EXPECT_THROW(shortShot.GetDoor(), EDataNotValid);
  AddInfo(c, "T", 0, 8, 0);
  EXPECT_THROW(shortShot.GetValue(), EDataNotValid);

  TLidarData noData(&c, nullptr, 8208);
  EXPECT_FALSE(noData.IsValid());
  EXPECT_THROW(noData.GetDoor(), EDataNotValid);
}

TEST_F(RecordsTest, GatesAreBigEndianAndNeverReadPastTheRecordedOnes) {
  TChannelConfig c = LidarChannel(2, 3, 0);
  c.DoorsUsed = 3;  // careless definition: one gate more than recorded
  const std::vector<uint8_t> block = {0x01, 0x02, 0x03, 0xFF, 0xFF, 0xFE};
  TLidarData shot(&c, block.data(), block.size());
  ASSERT_TRUE(shot.FirstDoor());
  EXPECT_EQ(shot.GetDoor(), 0x010203u);
  ASSERT_TRUE(shot.NextDoor());
  EXPECT_EQ(shot.GetDoor(), 0xFFFFFEu);
  ASSERT_TRUE(shot.NextDoor());
  EXPECT_THROW(shot.GetDoor(), EDataNotValid);
  EXPECT_FALSE(shot.NextDoor());  // gate DoorsUsed - 1 is the last
}

TEST_F(RecordsTest, InformationFieldsAreShiftedAndMaskedAfterTheGates) {
  TChannelConfig c = LidarChannel(2, 2, 5);
  AddInfo(c, "B12S4", 2, 12, 4);
  AddInfo(c, "B8S4", 2, 8, 4);
  AddInfo(c, "Byte0", 0, 8, 0).Options = "CODE:SHOOT";
  AddInfo(c, "Wide", 1, 32, 0);
  // Gates 0x1111 0x2222, then information bytes 00 11 AB CD 5E.
  const std::vector<uint8_t> block = {0x11, 0x11, 0x22, 0x22, 0x00, 0x11, 0xAB, 0xCD, 0x5E};
  TLidarData shot(&c, block.data(), block.size());
  ASSERT_TRUE(shot.IsValid());
  double v = 0;
  ASSERT_TRUE(shot.FindByName("B12S4", v));
  EXPECT_EQ(v, 0xABC);
  ASSERT_TRUE(shot.FindByName("B8S4", v));
  EXPECT_EQ(v, 0xBC);
  ASSERT_TRUE(shot.FindByName("Byte0", v));
  EXPECT_EQ(v, 0);
  ASSERT_TRUE(shot.FindByName("Wide", v));
  EXPECT_EQ(v, 0x11ABCD5E);
  EXPECT_EQ(shot.InfoIndex(), 3);
  EXPECT_FALSE(shot.FindByName("b12s4", v));  // names compare exactly

  // The cursor walks the descriptions in order and finds them by code too.
  int fields = shot.First() ? 1 : 0;
  while (shot.Next()) ++fields;
  EXPECT_EQ(fields, 4);
  ASSERT_TRUE(shot.FindByCode("SHOOT", v));
  EXPECT_EQ(shot.GetName(), "Byte0");
  EXPECT_FALSE(shot.FindByCode("NONE", v));
}

TEST_F(RecordsTest, FieldsOutsideTheRecordOrTooWideGiveNaNAndLevel3) {
  TChannelConfig c = LidarChannel(1, 2, 4);
  AddInfo(c, "LastByte", 3, 8, 0);      // reads the last byte: fine
  AddInfo(c, "PastEnd", 3, 12, 0);      // two bytes from the last one
  AddInfo(c, "FarAway", 1000000, 8, 0);
  AddInfo(c, "Negative", -3, 8, 0);
  AddInfo(c, "TooWide", 0, 60, 8);      // 68 bits
  AddInfo(c, "ShiftOnly", 0, 0, 8);
  // Exactly sized heap block: any read past it is caught by the sanitizer.
  auto block = std::make_unique<uint8_t[]>(6);
  std::memset(block.get(), 0xFF, 6);
  TLidarData shot(&c, block.get(), 6);
  ASSERT_TRUE(shot.IsValid());
  double v = 0;
  ASSERT_TRUE(shot.FindByName("LastByte", v));
  EXPECT_EQ(v, 255);
  EXPECT_EQ(shot.GetLevel(), 0);
  for (const char* name : {"PastEnd", "FarAway", "Negative", "TooWide"}) {
    ASSERT_TRUE(shot.FindByName(name, v)) << name;
    EXPECT_TRUE(std::isnan(v)) << name;
    EXPECT_EQ(shot.GetLevel(), 3) << name;
  }
  ASSERT_TRUE(shot.FindByName("ShiftOnly", v));
  EXPECT_EQ(v, 0);

  TChannelConfig wide = LidarChannel(0, 2, 8);
  AddInfo(wide, "All", 0, 64, 0);
  AddInfo(wide, "ShiftAll", 0, 0, 64);
  const std::vector<uint8_t> ones(8, 0xFF);
  TLidarData full(&wide, ones.data(), ones.size());
  ASSERT_TRUE(full.FindByName("All", v));
  EXPECT_EQ(v, 18446744073709551615.0);
  ASSERT_TRUE(full.FindByName("ShiftAll", v));
  EXPECT_EQ(v, 0);
}

TEST_F(RecordsTest, ValuesAreCalibratedByMulDivPercentAndInverted) {
  TInfoDescription d;
  d.Mul = 1;
  d.Div = 0;
  d.Percent = 50;
  EXPECT_DOUBLE_EQ(TLidarInfo::Calibrate(d, 10), 20);
  d.Inverted = true;
  EXPECT_DOUBLE_EQ(TLidarInfo::Calibrate(d, 10), 0.05);
  d = TInfoDescription();
  d.Mul = 3;
  d.Div = 4;
  EXPECT_DOUBLE_EQ(TLidarInfo::Calibrate(d, 10), 7.5);
  d.Inverted = true;
  EXPECT_TRUE(std::isinf(TLidarInfo::Calibrate(d, 0)));

  // The same path through a record.
  TChannelConfig c = LidarChannel(0, 2, 1);
  TInfoDescription& info = AddInfo(c, "P", 0, 8, 0);
  info.Percent = 50;
  const std::vector<uint8_t> block = {10};
  TLidarData shot(&c, block.data(), block.size());
  shot.First();
  EXPECT_DOUBLE_EQ(shot.GetValue(), 20);
}

TEST_F(RecordsTest, AlarmLevelBoundariesBelongToTheLowerLevel) {
  TInfoDescription d;
  d.Min = 0;
  d.WarningMin = 5;
  d.WarningMax = 10;
  d.Max = 20;
  EXPECT_EQ(TLidarInfo::Level(d, 10), 0);     // exactly WarningMax
  EXPECT_EQ(TLidarInfo::Level(d, 10.5), 2);
  EXPECT_EQ(TLidarInfo::Level(d, 20), 2);     // exactly Max, above WarningMax
  EXPECT_EQ(TLidarInfo::Level(d, 20.001), 3);
  EXPECT_EQ(TLidarInfo::Level(d, 5), 0);      // exactly WarningMin
  EXPECT_EQ(TLidarInfo::Level(d, 4.9), 1);
  EXPECT_EQ(TLidarInfo::Level(d, 0), 1);      // exactly Min
  EXPECT_EQ(TLidarInfo::Level(d, -0.1), 3);
  EXPECT_EQ(TLidarInfo::Level(d, std::numeric_limits<double>::quiet_NaN()), 3);
  EXPECT_EQ(TLidarInfo::Level(TInfoDescription(), 1e300), 0);  // no limits
}

// ---- TMonitorData ----

TEST_F(RecordsTest, MonitoringRecordsHoldOneCalibratedDoublePerDescription) {
  TChannelConfig c;
  AddInfo(c, "Volt", 0, 0, 0).Mul = 2;
  TInfoDescription& t = AddInfo(c, "Temp", 0, 0, 0);
  t.Max = 50;
  const double values[2] = {1.25, std::numeric_limits<double>::quiet_NaN()};
  std::vector<uint8_t> block(16);
  std::memcpy(block.data(), values, 16);

  TMonitorData m(&c, block.data(), 16);
  ASSERT_TRUE(m.IsValid());
  EXPECT_EQ(m.ValueCount(), 2);
  m.First();
  EXPECT_DOUBLE_EQ(m.GetValue(), 2.5);
  m.Next();
  EXPECT_TRUE(std::isnan(m.GetValue()));
  EXPECT_EQ(m.GetLevel(), 3);

  for (size_t len : {size_t{8}, size_t{15}, size_t{24}}) {
    TMonitorData bad(&c, block.data(), len);
    EXPECT_FALSE(bad.IsValid()) << len;
    EXPECT_THROW(bad.GetValue(), EDataNotValid) << len;
  }
}

// ---- TAirinsData ----

std::vector<uint8_t> InsRecord() {
  std::vector<uint8_t> r(35, 0);
  auto put32 = [&](size_t o, uint32_t v) {
    for (int i = 0; i < 4; ++i) r[o + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (24 - 8 * i));
  };
  auto put16 = [&](size_t o, uint16_t v) {
    r[o] = static_cast<uint8_t>(v >> 8);
    r[o + 1] = static_cast<uint8_t>(v);
  };
  put32(0, 1000);
  r[4] = 25;
  put32(5, 1u << 30);              // -90 degrees
  put32(9, static_cast<uint32_t>(-(1 << 29)));  // +45 degrees
  put32(13, static_cast<uint32_t>(-12345));     // -123.45 m
  put16(17, static_cast<uint16_t>(-150));
  put16(19, 250);
  put16(21, 1);
  put16(23, static_cast<uint16_t>(-16384));     // roll -90
  put16(25, 8192);                              // pitch 45
  put16(27, 0xFFFF);                            // heading just below 360
  put16(29, 16384);
  put16(31, static_cast<uint16_t>(-1));
  put16(33, 0x7FFF);
  return r;
}

TEST_F(RecordsTest, InsRecordsDecodeTheirBigEndianFields) {
  const std::vector<uint8_t> r = InsRecord();
  TAirinsData ins(r.data(), r.size());
  ASSERT_TRUE(ins.IsValid());
  EXPECT_EQ(ins.Seconds(), 1000u);
  EXPECT_EQ(ins.Hundredths(), 25);
  EXPECT_DOUBLE_EQ(ins.Time(), 1000.25);
  EXPECT_DOUBLE_EQ(ins.Latitude(), -90.0);
  EXPECT_DOUBLE_EQ(ins.Longitude(), 45.0);
  EXPECT_DOUBLE_EQ(ins.Altitude(), -123.45);
  EXPECT_DOUBLE_EQ(ins.VelocityNorth(), -1.5);
  EXPECT_DOUBLE_EQ(ins.VelocityEast(), 2.5);
  EXPECT_DOUBLE_EQ(ins.VelocityVertical(), 0.01);
  EXPECT_DOUBLE_EQ(ins.Roll(), -90.0);
  EXPECT_DOUBLE_EQ(ins.Pitch(), 45.0);
  EXPECT_DOUBLE_EQ(ins.Heading(), 65535 * 180.0 / 32768);
  EXPECT_DOUBLE_EQ(ins.FurtherAngle(0), 90.0);
  EXPECT_DOUBLE_EQ(ins.FurtherAngle(1), -0.0054931640625);
  EXPECT_DOUBLE_EQ(ins.FurtherAngle(2), 32767 * 180.0 / 32768);
  EXPECT_THROW(ins.FurtherAngle(3), EDataNotValid);
}

TEST_F(RecordsTest, AnInsBlockOfAnyOtherLengthIsInvalid) {
  const std::vector<uint8_t> r = InsRecord();
  TAirinsData shortIns(r.data(), 34);
  EXPECT_FALSE(shortIns.IsValid());
  EXPECT_THROW(shortIns.Latitude(), EDataNotValid);
  EXPECT_THROW(shortIns.Time(), EDataNotValid);
  EXPECT_FALSE(TAirinsData(nullptr, 35).IsValid());
  std::vector<uint8_t> longer = r;
  longer.push_back(0);
  EXPECT_FALSE(TAirinsData(longer.data(), 36).IsValid());
}

// ---- TLidarEvent ----

TEST_F(RecordsTest, EventTextsNameTheKindAndAddTheComment) {
  const TDateTime t = EncodeDateTime(2026, 3, 4, 5, 6, 7);
  TLidarEvent e(t, 0, "XYZ", "");
  EXPECT_EQ(e.ToText(), FormatDateTime(t, false) + "\nEvent");
  e.Code = "USN";
  e.Comment = "cloud";
  EXPECT_EQ(e.ToText(), FormatDateTime(t, false) + "\nNote\ncloud");
  EXPECT_EQ(TLidarEvent::KindText("usn"), "Event");
}

// ---- TManagedProfile ----

class ProfileTest : public RecordsTest {
 protected:
  std::unique_ptr<TManagedProfile> Make(int gates) {
    channel.DoorsUsed = gates;
    channel.DoorsTime = 100e-9;
    channel.OffsetTime = 1e-6;
    auto p = std::make_unique<TManagedProfile>(7, &channel, nullptr, 60, nullptr);
    for (int i = 0; i < gates; ++i) p->Signal[static_cast<size_t>(i)] = i;
    return p;
  }
  static double Sum(int from, int to) {
    double s = 0;
    for (int i = from; i <= to; ++i) s += i;
    return s;
  }
  TChannelConfig channel;
};

TEST_F(ProfileTest, SumSignalClampsItsWindowToTheActiveGates) {
  auto p = Make(2000);
  EXPECT_EQ(p->SumSignal(10, 5000), Sum(10, 1999));
  EXPECT_EQ(p->SumSignal(10, 2000), Sum(10, 1999));
  EXPECT_EQ(p->SumSignal(10, 1999), Sum(10, 1999));
  EXPECT_EQ(p->SumSignal(-5, 3), Sum(0, 3));
  EXPECT_EQ(p->SumSignal(7, 7), Sum(6, 7));   // from not below to
  EXPECT_EQ(p->SumSignal(9, 4), Sum(3, 4));
  EXPECT_EQ(p->SumSignal(0, 0), 0);           // gate 0 only
  EXPECT_EQ(p->SumSignal(5, -3), 0);          // empty window, nothing read before gate 0

  auto one = Make(1);
  one->Signal[0] = 4;
  EXPECT_EQ(one->SumSignal(0, 10), 4);
  EXPECT_EQ(one->SumSignal(3, 10), 4);
  auto none = Make(0);
  EXPECT_EQ(none->SumSignal(0, 10), 0);
  EXPECT_FALSE(none->First());
  EXPECT_TRUE(std::isnan(none->GetSignal()));
  none->SetSignal(1);  // dropped, no write outside the arrays
}

TEST_F(ProfileTest, ResetKeepsOrClearsTheAttachments) {
  auto p = Make(4);
  const std::vector<uint8_t> ins = InsRecord();
  auto attach = [&] {
    p->StartTime = p->LastTime = 46000.5;
    p->ShotRecords = 3;
    p->LaserShots = 3000;
    p->RecordShots = 1000;
    p->Open = false;
    p->Accumulator.assign(4, 9.0);
    std::copy(ins.begin(), ins.end(), p->AirinsRecord.begin());
    p->AirinsLength = 35;
    p->AirinsTime = 46000.5;
    auto& buffer = p->MonitorRecords[3];
    if (!buffer) buffer = std::make_unique<TMonitorBuffer>();
    const uint8_t bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    buffer->Assign(&channel, bytes, 8, 46000.5);
  };
  attach();
  ASSERT_TRUE(p->GetAirinsData().has_value());
  EXPECT_DOUBLE_EQ(p->GetAirinsData()->Latitude(), -90.0);

  p->Reset(true);
  EXPECT_EQ(p->StartTime + p->LastTime, 0);
  EXPECT_EQ(p->ShotRecords + p->LaserShots + p->RecordShots, 0);
  EXPECT_TRUE(p->Open);
  EXPECT_EQ(p->Signal, std::vector<double>(4, 0.0));
  EXPECT_EQ(p->Accumulator, std::vector<double>(4, 0.0));
  EXPECT_EQ(p->AirinsLength, 35);
  EXPECT_EQ(p->MonitorRecords[3]->Data[7], 8);

  attach();
  p->Reset(false);
  EXPECT_EQ(p->AirinsLength, 0);
  EXPECT_FALSE(p->GetAirinsData().has_value());
  ASSERT_EQ(p->MonitorRecords[3]->Size(), 8);  // kept, bytes cleared
  EXPECT_EQ(p->MonitorRecords[3]->Data, std::vector<uint8_t>(8, 0));
}

TEST_F(ProfileTest, AnInsTimeBelowOneDayMeansNoInsRecord) {
  auto p = Make(1);
  const std::vector<uint8_t> ins = InsRecord();
  std::copy(ins.begin(), ins.end(), p->AirinsRecord.begin());
  p->AirinsLength = 35;
  p->AirinsTime = 0.99;
  EXPECT_FALSE(p->GetAirinsData().has_value());
  p->AirinsTime = 1.0;
  ASSERT_TRUE(p->GetAirinsData().has_value());
  EXPECT_TRUE(p->GetAirinsData()->IsValid());
  p->AirinsLength = 20;  // a short record attached as it came
  EXPECT_FALSE(p->GetAirinsData()->IsValid());

  TProfile handle(p.get());
  EXPECT_EQ(handle->ChannelID, 7);
  EXPECT_EQ(handle.Get(), p.get());
}

}  // namespace
