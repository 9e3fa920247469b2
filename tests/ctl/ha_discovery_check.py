#!/usr/bin/env python3
"""Checks Home Assistant discovery configurations against the points of the MQTT
discovery convention that zfusectl relies on, and renders every value template with
Jinja2 (the template engine Home Assistant uses) against a real state payload.

usage: ha_discovery_check.py FOLDER
FOLDER holds, per device, <n>.config (the device-based configuration, or one
<n>-<platform>-<k>.entity per entity, the
platform taken from its topic) and <n>.state (the retained state payload it reads).
Home Assistant itself is not installed here; when its convention moves, update the
table below."""

import json
import pathlib
import sys

import jinja2

# What the convention expects, in one place.
CONVENTION = {
    "device_keys": ["dev", "o", "state_topic", "availability_topic"],
    "device_info_keys": ["identifiers", "name", "manufacturer", "model"],
    "origin_keys": ["name", "sw_version", "support_url"],
    "component_keys": ["p", "unique_id", "name", "value_template"],
    "platforms": {"sensor", "binary_sensor"},
    # device class -> units Home Assistant accepts for it
    "sensor_units": {"current": {"A", "mA"}, "voltage": {"V", "mV"}},
    "binary_device_classes": {"problem"},
    "binary_payloads": {"ON", "OFF"},  # payload_on / payload_off defaults
    "state_classes": {"measurement", "total", "total_increasing"},
    "availability_payloads": ("true", "false"),  # what the online topic carries
}

# zfusectl's entities: unique id suffix -> platform, device class, unit, state class, and
# where in the state payload the value is.
ENTITIES = {
    "current_{c}": ("sensor", "current", "A", "measurement", ("channels", "present")),
    "current_max_{c}": ("sensor", "current", "A", None, ("channels", "maximum")),
    "current_rated_{c}": ("sensor", "current", "A", None, ("channels", "rated")),
    "warning_{c}": ("binary_sensor", "problem", None, None, ("channels", "warning")),
    "tripped_{c}": ("binary_sensor", "problem", None, None, ("channels", "tripped")),
    "uin": ("sensor", "voltage", "V", "measurement", ("uin",)),
    "uin_min": ("sensor", "voltage", "V", None, ("uin_min",)),
    "power_good_low": ("binary_sensor", "problem", None, None, ("power_good_low",)),
    "hardware_fault": ("binary_sensor", "problem", None, None, ("hardware_fault",)),
}

errors = []


def fail(where, what):
    errors.append(f"{where}: {what}")


def expected_entities(state):
    channels = 4 if state["channels"][2]["tripped"] is not None else 2
    names = {}
    for suffix, entity in ENTITIES.items():
        if "{c}" in suffix:
            for c in range(1, channels + 1):
                names[suffix.format(c=c)] = (entity, c)
        else:
            names[suffix] = (entity, 0)
    return names


def check_component(where, comp, shared, state, expected, env):
    """A component of a device-based configuration, or a configuration per entity
    (whose platform comes from its topic, given here as 'p')."""
    for key in CONVENTION["component_keys"]:
        if key not in comp:
            fail(where, f"no '{key}'")
    if comp.get("p") not in CONVENTION["platforms"]:
        fail(where, f"platform {comp.get('p')!r}")
    device_id = shared["dev"]["identifiers"][0][len("zfuse_"):]
    suffix = comp.get("unique_id", "")[len(device_id) + 1:]
    if suffix not in expected:
        fail(where, f"unexpected entity {comp.get('unique_id')!r}")
        return None
    (platform, device_class, unit, state_class, path), channel = expected[suffix]
    if comp.get("p") != platform:
        fail(where, f"platform {comp.get('p')} instead of {platform}")
    if comp.get("device_class") != device_class:
        fail(where, f"device class {comp.get('device_class')}")
    if platform == "sensor":
        if comp.get("unit_of_measurement") not in CONVENTION["sensor_units"][device_class]:
            fail(where, f"unit {comp.get('unit_of_measurement')} for {device_class}")
        if comp.get("unit_of_measurement") != unit:
            fail(where, f"unit {comp.get('unit_of_measurement')} instead of {unit}")
    elif device_class not in CONVENTION["binary_device_classes"]:
        fail(where, f"binary device class {device_class}")
    if comp.get("state_class") != state_class:
        fail(where, f"state class {comp.get('state_class')} instead of {state_class}")
    if state_class is not None and state_class not in CONVENTION["state_classes"]:
        fail(where, f"state class {state_class}")
    # The template, rendered as Home Assistant renders it, against the real state.
    rendered = env.from_string(comp["value_template"]).render(value_json=state)
    value = state["channels"][channel - 1][path[1]] if path[0] == "channels" else state[path[0]]
    if platform == "binary_sensor":
        if rendered not in CONVENTION["binary_payloads"]:
            fail(where, f"template renders {rendered!r}")
        elif (rendered == "ON") != bool(value):
            fail(where, f"template renders {rendered} for {value!r}")
    elif value is None:
        if rendered != "None":  # unknown in Home Assistant, never a fake 0 A
            fail(where, f"switched-off channel renders {rendered!r}")
    elif float(rendered) != value:
        fail(where, f"template renders {rendered!r} for {value!r}")
    return comp["unique_id"]


def check_shared(where, shared, device_name):
    for key in CONVENTION["device_keys"]:
        if key not in shared:
            fail(where, f"no '{key}'")
    for key in CONVENTION["device_info_keys"]:
        if not shared.get("dev", {}).get(key):
            fail(where, f"dev has no '{key}'")
    for key in CONVENTION["origin_keys"]:
        if not shared.get("o", {}).get(key):
            fail(where, f"o has no '{key}'")
    if shared["dev"].get("manufacturer") != "Zokara":
        fail(where, "manufacturer")
    available = (shared.get("payload_available"), shared.get("payload_not_available"))
    if available != CONVENTION["availability_payloads"]:
        fail(where, f"availability payloads {available}")
    if not shared["state_topic"].endswith(f"/{device_name}/state"):
        fail(where, f"state topic {shared['state_topic']}")
    if not shared["availability_topic"].endswith(f"/{device_name}/online"):
        fail(where, f"availability topic {shared['availability_topic']}")


def main(folder):
    env = jinja2.Environment()
    unique_ids = []
    states = sorted(pathlib.Path(folder).glob("*.state"))
    if not states:
        fail(folder, "no state payloads")
    for state_file in states:
        n = state_file.stem
        state = json.loads(state_file.read_text())
        expected = expected_entities(state)
        device = pathlib.Path(folder, f"{n}.config")
        if device.exists():
            config = json.loads(device.read_text())
            check_shared(device.name, config, config["dev"]["name"])
            comps = config.get("cmps", {})
            for key, comp in comps.items():
                if key != comp.get("unique_id"):
                    fail(device.name, f"component key {key} is not its unique id")
                unique_ids.append(check_component(f"{device.name} {key}", comp, config, state,
                                                  expected, env))
            found = len(comps)
        else:
            entities = sorted(pathlib.Path(folder).glob(f"{n}-*.entity"))
            for e in entities:
                config = json.loads(e.read_text())
                if "p" in config:
                    fail(e.name, "the platform belongs in the topic")
                config["p"] = e.stem.split("-")[-2]
                check_shared(e.name, config, config["dev"]["name"])
                unique_ids.append(check_component(e.name, config, config, state, expected, env))
            found = len(entities)
        if found != len(expected):
            fail(state_file.name, f"{found} entities announced, {len(expected)} expected")
    if len(set(unique_ids)) != len(unique_ids):
        fail(folder, "unique ids repeat")
    for e in errors:
        print(e)
    print(f"{len(unique_ids)} entities of {len(states)} devices checked, {len(errors)} errors")
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
