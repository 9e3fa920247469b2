// Feeds arbitrary bytes as a commissioning plan: every refusal says where, every plan
// taken has unique, non-empty tags on increasing lines, and a tag written back as a CSV
// field reads as the same tag.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "ctl/plan.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const auto parsed = zfuse::ctl::parsePlan(bytes, QStringLiteral("/nonexistent"));
  if (const auto* e = std::get_if<zfuse::ctl::PlanError>(&parsed)) {
    if (e->message.isEmpty() || e->exit != 2 || e->line < 0 || e->column < 0) std::abort();
    return 0;
  }
  const zfuse::ctl::Plan& plan = std::get<zfuse::ctl::Plan>(parsed);
  if (plan.rows.empty() || plan.rows.size() > zfuse::ctl::kPlanDeviceLimit) std::abort();
  int line = 0;
  for (std::size_t i = 0; i < plan.rows.size(); ++i) {
    const zfuse::ctl::PlanRow& row = plan.rows[i];
    if (row.tag.isEmpty() || row.line <= line) std::abort();
    if (row.extra.size() != plan.extraColumns.size()) std::abort();
    line = row.line;
    for (std::size_t j = 0; j < i; ++j) {
      if (plan.rows[j].tag == row.tag) std::abort();
    }
  }
  const QString tag = plan.rows.front().tag;
  const auto again = zfuse::ctl::parsePlan(
      "tag,port\n" + zfuse::ctl::csvField(tag).toUtf8() + ",/dev/null\n", QString());
  const auto* back = std::get_if<zfuse::ctl::Plan>(&again);
  if (back == nullptr || back->rows.front().tag != tag) std::abort();
  return 0;
}
