#include "Config/InfoDescription.h"

#include <cmath>

#include <gtest/gtest.h>

using namespace OrlaqLidar;

namespace {
const double kInf = std::numeric_limits<double>::infinity();
}

TEST(InfoDescriptionTest, NamedItemsSetTheirMembersAndTheRestKeepDefaults) {
  TInfoDescription d;
  d.Parse(" NAME : Temp , U:C,MIN:-10,WARNMAX:40,HIDE");
  EXPECT_EQ(d.Name, "Temp");
  EXPECT_EQ(d.Unit, "C");
  EXPECT_EQ(d.Min, -10);
  EXPECT_EQ(d.WarningMax, 40);
  EXPECT_FALSE(d.Visible);
  // Limits not given stay open.
  EXPECT_EQ(d.WarningMin, -kInf);
  EXPECT_EQ(d.Max, kInf);
  EXPECT_EQ(d.Options, "");
  EXPECT_EQ(d.Text, " NAME : Temp , U:C,MIN:-10,WARNMAX:40,HIDE");
}

TEST(InfoDescriptionTest, EveryKeyAndItsAliasIsRecognisedInAnyCase) {
  TInfoDescription d;
  d.Parse("fmt:0.0,warningmin:1.5,WarningMax:2.5,max:9,mul:3,div:4,percent:50,o:2,s:4,b:12,inv");
  EXPECT_EQ(d.Format, "0.0");
  EXPECT_EQ(d.WarningMin, 1.5);
  EXPECT_EQ(d.WarningMax, 2.5);
  EXPECT_EQ(d.Max, 9);
  EXPECT_EQ(d.Mul, 3);
  EXPECT_EQ(d.Div, 4);
  EXPECT_EQ(d.Percent, 50);
  EXPECT_EQ(d.O, 2);
  EXPECT_EQ(d.S, 4);
  EXPECT_EQ(d.B, 12);
  EXPECT_TRUE(d.Inverted);
  EXPECT_TRUE(d.Visible);
  d.Parse("WARNMIN:-3,MIN:-7");
  EXPECT_EQ(d.WarningMin, -3);
  EXPECT_EQ(d.Min, -7);
}

TEST(InfoDescriptionTest, LaterItemsOverrideAndBadNumbersChangeNothing) {
  TInfoDescription d;
  d.Parse("MAX:10,MAX:20,O:3,O:x,MUL:abc,DIV:,B:1.5");
  EXPECT_EQ(d.Max, 20);
  EXPECT_EQ(d.O, 3);
  EXPECT_EQ(d.Mul, 1.0);
  EXPECT_EQ(d.Div, 1.0);
  EXPECT_EQ(d.B, 0);
}

TEST(InfoDescriptionTest, UnknownItemsBecomeOptions) {
  TInfoDescription d;
  d.Parse("NAME:Shots,RAW,CODE:SHOOT,LEVEL:3");
  EXPECT_EQ(d.Options, "RAW,CODE:SHOOT,LEVEL:3");
  EXPECT_EQ(d.GetOption("raw"), "1");
  EXPECT_EQ(d.GetOption("RAW"), "1");
  EXPECT_EQ(d.GetOption("code"), "SHOOT");
  EXPECT_EQ(d.GetOption("LEV"), "");
  EXPECT_EQ(d.GetOption("NAME"), "");

  // A second parse appends; the first key item keeps priority.
  d.Parse("CODE:OTHER, code : late ,, EXTRA");
  EXPECT_EQ(d.Options, "RAW,CODE:SHOOT,LEVEL:3,CODE:OTHER,CODE:late,EXTRA");
  EXPECT_EQ(d.GetOption("CODE"), "SHOOT");
  EXPECT_EQ(d.GetOption("extra"), "1");
  EXPECT_EQ(d.Name, "Shots");

  // A flag wins over a key of the same name.
  TInfoDescription f;
  f.Parse("TEST:7,TEST");
  EXPECT_EQ(f.GetOption("test"), "1");
}
