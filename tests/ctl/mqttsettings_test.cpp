// The rules for topic prefixes, device ids and the discovery prefix: what the client
// library or the broker would refuse, or take and never deliver, is refused here first.

#include "ctl/mqttsettings.h"

#include <gtest/gtest.h>

namespace zfuse::ctl {
namespace {

enum Kind { Prefix, Id, Discovery };

struct Case {
  Kind kind;
  QString text;
  const char* rule;  // part of the message; nullptr: accepted
};

QString ch(char32_t c) {
  return QString::fromUcs4(&c, 1);
}

TEST(MqttSettings, TopicPrefixesDeviceIdsAndDiscoveryPrefixes) {
  const QString longLevel(kMaxTopicBytes + 1, QLatin1Char('x'));
  const Case cases[] = {
      {Prefix, "zfuse", nullptr},
      {Prefix, "plant/hall 2/Straße", nullptr},  // spaces and non-ASCII are plain text
      {Prefix, "plant/#", "no '+' or '#'"},
      {Prefix, "plant/+/x", "no '+' or '#'"},
      {Prefix, "plant//x", "none empty"},
      {Prefix, "plant/", "none empty"},
      {Prefix, "", "none empty"},
      {Prefix, "$SYS/zz", "no leading '$'"},
      {Prefix, "plant/$x", nullptr},  // only the first level is the broker's
      {Prefix, "a\tb", "no control characters"},
      {Prefix, "a\nb", "no control characters"},
      {Prefix, "a" + ch(0x7f), "no control characters"},
      {Prefix, "a" + ch(0x85), "no control characters"},
      {Prefix, "a" + ch(0xfffe), "non-characters"},
      {Prefix, "a" + ch(0xfdd0), "non-characters"},
      {Prefix, "a" + ch(0x1ffff), "non-characters"},
      {Prefix, "a" + ch(0xfffd), "not valid UTF-8"},
      {Prefix, longLevel, "at most 65535 bytes"},
      {Prefix, QString(kMaxTopicBytes, QLatin1Char('x')), nullptr},
      // Three bytes of UTF-8 each: the limit counts bytes, not characters.
      {Prefix, QString(kMaxTopicBytes / 3 + 1, QChar(0x20ac)), "at most 65535 bytes"},
      {Id, "gw1-COM1", nullptr},
      {Id, "Halle 2 – Linie 7", nullptr},
      {Id, "a/b", "one topic level"},
      {Id, "a+", "one topic level"},
      {Id, "#", "one topic level"},
      {Id, "", "one topic level"},
      {Id, "a\tb", "no control characters"},
      {Id, "a" + ch(0x85), "no control characters"},
      {Id, "a" + ch(0xfdef), "non-characters"},
      {Id, "a" + ch(0xfffd) + "b", "not valid UTF-8"},
      {Id, longLevel, "at most 65535 bytes"},
      {Discovery, "homeassistant", nullptr},
      {Discovery, "ha_test/disc-1", nullptr},
      {Discovery, "home assistant", "only ASCII letters"},
      {Discovery, "heimautomatisierung/ä", "only ASCII letters"},
      {Discovery, "ha/+", "no '+' or '#'"},
      {Discovery, "$SYS", "no leading '$'"},
      {Discovery, "ha\n", "no control characters"},
  };
  for (const Case& c : cases) {
    const QString problem = c.kind == Prefix ? topicPrefixProblem(c.text)
                            : c.kind == Id   ? deviceIdProblem(c.text)
                                             : discoveryPrefixProblem(c.text);
    const std::string shown = quotedForMessage(c.text).toStdString();
    if (c.rule == nullptr) {
      EXPECT_TRUE(problem.isEmpty()) << c.kind << " '" << shown << "': " << problem.toStdString();
    } else {
      EXPECT_TRUE(problem.contains(QLatin1String(c.rule)))
          << c.kind << " '" << shown << "': " << problem.toStdString();
    }
  }
}

TEST(MqttSettings, MessagesShowUnprintableTextEscapedAndCut) {
  EXPECT_EQ(quotedForMessage("a\tb" + ch(0x85) + ch(0xfffe)), "a\\u{0009}b\\u{0085}\\u{fffe}");
  EXPECT_EQ(quotedForMessage(QString(70000, QLatin1Char('x')), 5), "xxxxx...");
  EXPECT_EQ(quotedForMessage("Straße"), "Straße");
}

}  // namespace
}  // namespace zfuse::ctl
