#pragma once

#include "config/parameterset.h"

namespace zfuse::test {

// The factory settings of the standard dialog: 8 A and 0,1 s on every channel, 21,4 V,
// port 1 on channel 1 tripped and inverted, port 2 on channel 2 tripped, inverted, and
// programming allowed.
inline ParameterSet standardFactorySet() {
  ParameterSet p;
  p.current_index = {8, 8, 8, 8};
  p.time_index = {0, 0, 0, 0};
  p.pgood_index = 14;
  p.port1_byte1 = 0x02;
  p.port1_byte2 = 0x80;
  p.port2_byte1 = 0x08;
  p.port2_byte2 = 0xC0;
  return p;
}

// The factory settings of the fuse-variant dialog: `amps` on every channel, 21,4 V,
// every trip signalled, output inverted, programming allowed, switch-off after 100 s.
inline ZokxParameterSet zokxFactorySet(int amps) {
  ZokxParameterSet p;
  p.current_index = {amps, amps, amps, amps};
  p.pgood_index = 14;
  p.switch_off_index = 7;
  p.port1_byte1 = 0xAA;
  p.port1_byte2 = 0xC0;
  return p;
}

}  // namespace zfuse::test
