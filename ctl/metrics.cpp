#include "ctl/metrics.h"

#include <functional>

namespace zfuse::ctl {
namespace {

// A label value with backslash, double quote and line feed escaped.
void appendLabelValue(QByteArray& out, const QString& value) {
  for (const char c : value.toUtf8()) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '"') {
      out += "\\\"";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
}

// Hundredths as a decimal number: 1234 -> "12.34".
QByteArray hundredths(int value) {
  QByteArray text = QByteArray::number(value / 100) + '.';
  const int rest = value % 100;
  if (rest < 10) text += '0';
  return text + QByteArray::number(rest);
}

class Writer {
 public:
  explicit Writer(const std::vector<DeviceMetrics>& devices) : devices_(devices) {
    out_.reserve(static_cast<qsizetype>(devices.size()) * 3000 + 4000);
  }

  // One family: its help and type lines, then the samples `each` adds per device.
  void family(const char* name, const char* type, const char* help,
              const std::function<void(const DeviceMetrics&)>& each) {
    name_ = name;
    out_ += "# HELP ";
    out_ += name;
    out_ += ' ';
    out_ += help;
    out_ += "\n# TYPE ";
    out_ += name;
    out_ += ' ';
    out_ += type;
    out_ += '\n';
    for (const DeviceMetrics& d : devices_) each(d);
  }

  // A sample of the current family; channel 0 for none.
  void sample(const DeviceMetrics& d, int channel, const QByteArray& value,
              const std::vector<std::pair<const char*, QString>>& more = {}) {
    out_ += name_;
    out_ += "{device=\"";
    appendLabelValue(out_, d.device);
    out_ += "\",port=\"";
    appendLabelValue(out_, d.port);
    out_ += '"';
    if (channel > 0) {
      out_ += ",channel=\"";
      out_ += QByteArray::number(channel);
      out_ += '"';
    }
    for (const auto& [label, text] : more) {
      out_ += ',';
      out_ += label;
      out_ += "=\"";
      appendLabelValue(out_, text);
      out_ += '"';
    }
    out_ += "} ";
    out_ += value;
    out_ += '\n';
  }

  QByteArray take() { return std::move(out_); }

 private:
  const std::vector<DeviceMetrics>& devices_;
  const char* name_ = "";
  QByteArray out_;
};

QByteArray bit(bool on) {
  return on ? QByteArrayLiteral("1") : QByteArrayLiteral("0");
}

}  // namespace

QByteArray renderMetrics(const std::vector<DeviceMetrics>& devices) {
  Writer w(devices);
  // Per channel that is switched on: a current in hundredths of an ampere.
  const auto currents = [&w](auto value) {
    return [&w, value](const DeviceMetrics& d) {
      if (!d.reading) return;
      for (int ch = 0; ch < 4; ++ch) {
        if (d.reading->channelOn(ch)) w.sample(d, ch + 1, value(*d.reading, ch));
      }
    };
  };
  // Per channel the model has: a lamp.
  const auto lamps = [&w](bool (StatusReading::*lit)(int) const) {
    return [&w, lit](const DeviceMetrics& d) {
      if (!d.reading) return;
      for (int ch = 0; ch < d.reading->channels(); ++ch) {
        w.sample(d, ch + 1, bit((*d.reading.*lit)(ch)));
      }
    };
  };
  w.family("zfuse_up", "gauge",
           "Whether status telegrams come from the device (0 after a second of silence).",
           [&w](const DeviceMetrics& d) { w.sample(d, 0, bit(d.up)); });
  w.family("zfuse_device_info", "gauge",
           "The device's model, from its status telegrams, and its version once read.",
           [&w](const DeviceMetrics& d) {
             if (!d.reading) return;
             std::vector<std::pair<const char*, QString>> labels{
                 {"model", QString::fromLatin1(modelName(d.reading->type))},
                 {"type", QStringLiteral("0x%1").arg(d.reading->type, 2, 16, QLatin1Char('0'))}};
             if (!d.version.isEmpty()) labels.emplace_back("version", d.version);
             w.sample(d, 0, "1", labels);
           });
  w.family("zfuse_current_amperes", "gauge", "Present current of a switched-on channel.",
           currents([](const StatusReading& r, int ch) { return hundredths(r.present[ch]); }));
  w.family("zfuse_current_maximum_amperes", "gauge",
           "Highest current of a switched-on channel since the device started.",
           currents([](const StatusReading& r, int ch) { return hundredths(r.highest[ch]); }));
  w.family(
      "zfuse_current_rated_amperes", "gauge", "Rated current of a switched-on channel.",
      currents([](const StatusReading& r, int ch) { return QByteArray::number(r.rated[ch]); }));
  w.family("zfuse_input_voltage_volts", "gauge", "Input voltage.", [&w](const DeviceMetrics& d) {
    if (d.reading) w.sample(d, 0, hundredths(d.reading->uin));
  });
  w.family("zfuse_input_voltage_minimum_volts", "gauge",
           "Lowest input voltage since the device started.", [&w](const DeviceMetrics& d) {
             if (d.reading) w.sample(d, 0, hundredths(d.reading->uinMin));
           });
  w.family("zfuse_channel_warning", "gauge", "Warning lamp of a channel (1 lit).",
           lamps(&StatusReading::warning));
  w.family("zfuse_channel_tripped", "gauge", "Trip lamp of a channel (1 lit).",
           lamps(&StatusReading::tripped));
  w.family("zfuse_power_good_low", "gauge", "Input below the power-good threshold (1 lit).",
           [&w](const DeviceMetrics& d) {
             if (d.reading) w.sample(d, 0, bit(d.reading->powerGoodLow()));
           });
  w.family("zfuse_hardware_fault", "gauge", "Hardware fault lamp (1 lit).",
           [&w](const DeviceMetrics& d) {
             if (d.reading) w.sample(d, 0, bit(d.reading->hardwareFault()));
           });
  w.family("zfuse_telegrams_total", "counter", "Status telegrams decoded.",
           [&w](const DeviceMetrics& d) { w.sample(d, 0, QByteArray::number(d.telegrams)); });
  w.family("zfuse_bad_telegrams_total", "counter", "Status telegrams with a wrong check byte.",
           [&w](const DeviceMetrics& d) { w.sample(d, 0, QByteArray::number(d.badTelegrams)); });
  w.family("zfuse_trips_total", "counter", "Times a channel's trip lamp lit.",
           [&w](const DeviceMetrics& d) {
             if (!d.reading) return;
             for (int ch = 0; ch < d.reading->channels(); ++ch) {
               w.sample(d, ch + 1, QByteArray::number(d.trips[static_cast<std::size_t>(ch)]));
             }
           });
  w.family("zfuse_reopens_total", "counter", "Times the port was opened again after it was lost.",
           [&w](const DeviceMetrics& d) { w.sample(d, 0, QByteArray::number(d.reopens)); });
  return w.take();
}

MetricsStore::MetricsStore(const QStringList& deviceIds, const QStringList& ports) {
  for (int i = 0; i < deviceIds.size(); ++i) {
    DeviceMetrics d;
    d.device = deviceIds.at(i);
    d.port = ports.at(i);
    devices_.push_back(d);
  }
}

void MetricsStore::setVersion(int device, const QString& version) {
  const std::lock_guard lock(mutex_);
  devices_.at(static_cast<std::size_t>(device)).version = version;
}

void MetricsStore::telegram(int device, const StatusReading& reading) {
  const std::lock_guard lock(mutex_);
  DeviceMetrics& d = devices_.at(static_cast<std::size_t>(device));
  for (int ch = 0; ch < reading.channels(); ++ch) {
    const bool before = d.reading && ch < d.reading->channels() && d.reading->tripped(ch);
    if (reading.tripped(ch) && !before) ++d.trips[static_cast<std::size_t>(ch)];
  }
  d.reading = reading;
  d.up = true;
  ++d.telegrams;
}

void MetricsStore::badTelegram(int device) {
  const std::lock_guard lock(mutex_);
  ++devices_.at(static_cast<std::size_t>(device)).badTelegrams;
}

void MetricsStore::silent(int device) {
  const std::lock_guard lock(mutex_);
  devices_.at(static_cast<std::size_t>(device)).up = false;
}

void MetricsStore::reopened(int device) {
  const std::lock_guard lock(mutex_);
  ++devices_.at(static_cast<std::size_t>(device)).reopens;
}

std::vector<DeviceMetrics> MetricsStore::snapshot() const {
  const std::lock_guard lock(mutex_);
  return devices_;
}

}  // namespace zfuse::ctl
