#!/usr/bin/env python3
"""Writes the seed corpus of the device target, and wizard and profile seeds with the machine's
steps and staging, into fuzz/corpus/<target>/, each input named by the SHA-1 of its bytes (inputs already there stay).

Device files: what `winsteps machine plug` is handed for network adapters, USB sticks with
their disks and volumes, card readers, serial adapters and hubs, in every key of the format,
one device or a list, compact and indented, and files that are refused (unknown keys, ids
without their parts, classes unknown by name, letters taken, wrong types). Wizards: the
service, component, firewall and device/driver steps as wizards use them, with each step's
properties in their forms (start types, timeouts, port mappings, hardware id lists), and the
same with faults a check finds (unknown events, missing properties, broken transitions).
Profiles: the built-in ones with staged services, connections and mappings, firewall and
sharing switches, devices and installer versions, and such tables that are refused.

    fuzz/makeseeds_machine.py
"""
import json
import os

from makeseeds import save

HERE = os.path.dirname(os.path.abspath(__file__))
EXAMPLES = os.path.join(HERE, "..", "examples")

NET = "{4D36E972-E325-11CE-BFC1-08002BE10318}"
PORTS = "{4D36E978-E325-11CE-BFC1-08002BE10318}"
VOLUME_INTERFACE = "{53F5630D-B6BF-11D0-94F2-00A0C91EFB8B}"


def stick(serial, vendor="DEMO", volume=None, **extra):
    volume = {"type": "removable", "mountDelay": 2} if volume is None else volume
    top = {
        "instanceId": "USB\\VID_0781&PID_5567\\" + serial,
        "hardwareIds": ["USB\\VID_0781&PID_5567&REV_0100", "USB\\VID_0781&PID_5567"],
        "compatibleIds": ["USB\\Class_08&SubClass_06&Prot_50", "USB\\Class_08"],
        "className": "USB", "description": "USB Mass Storage Device", "service": "USBSTOR",
        "children": [{
            "instanceId": "USBSTOR\\DISK&VEN_%s&PROD_STICK&REV_1.00\\%s&0" % (vendor, serial),
            "className": "DiskDrive", "description": "%s Stick USB Device" % vendor, "service": "disk",
            "children": [{"instanceId": "STORAGE\\RemovableMedia\\7&1D5D8C3&0&RM" + serial[-2:], "volume": volume}],
        }],
    }
    top.update(extra)
    return top


def adapter(n, **extra):
    node = {
        "instanceId": "PCI\\VEN_8086&DEV_10D3&SUBSYS_%04X8086&REV_00\\3&267A616A&0&%02X" % (n, n * 8),
        "hardwareIds": ["PCI\\VEN_8086&DEV_10D3&SUBSYS_%04X8086&REV_00" % n, "PCI\\VEN_8086&DEV_10D3"],
        "className": "Net", "description": "Intel(R) 82574L Gigabit Network Connection",
        "manufacturer": "Intel", "location": "PCI bus 2, device %d, function 0" % n,
    }
    node.update(extra)
    return node


def device_seeds():
    good = [
        adapter(1),
        adapter(2, service="e1g60", friendlyName="Office LAN"),
        adapter(3, classGuid=NET, driver=NET + "\\0007", service="e1g60"),
        adapter(4, present=False),
        adapter(5, problem=28),
        adapter(6, status=0x0180600A),
        adapter(7, parent="ACPI\\PNP0A03\\0"),
        adapter(8, hardwareIds="PCI\\VEN_8086&DEV_10D3"),
        stick("4C530001230521117082"),
        stick("AA00000000000001", volume={"type": "removable", "letter": "R"}),
        stick("AA00000000000002", volume={"type": "fixed", "mountDelay": 0.5, "media": True}),
        stick("AA00000000000003", volume={"type": "cdrom", "media": False}),
        stick("AA00000000000004", volume={"type": "ramdisk", "guid": "{6d7c2b11-0e1a-4d0e-9a3b-1c2d3e4f5a6b}"}),
        stick("AA00000000000005", volume={"type": "remote", "mountDelay": 3600}),
        stick("AA00000000000006", volume={}),
        stick("AA00000000000007", friendlyName="Kingston DataTraveler", manufacturer="Kingston"),
        {"instanceId": "USB\\VID_0BDA&PID_0158\\20071114173400000", "className": "USB",
         "description": "Card reader", "service": "USBSTOR",
         "children": [{"instanceId": "USBSTOR\\DISK&VEN_GENERIC&PROD_SD_MMC\\2007&%d" % i,
                       "className": "DiskDrive", "service": "disk",
                       "children": [{"instanceId": "STORAGE\\RemovableMedia\\SD%d&RM" % i,
                                     "volume": {"media": i == 0}}]} for i in range(4)]},
        {"instanceId": "USB\\VID_067B&PID_2303\\5&1A2B3C4D&0&1", "classGuid": PORTS, "className": "Ports",
         "description": "Prolific USB-to-Serial Comm Port", "service": "Ser2pl", "friendlyName": "COM3"},
        {"instanceId": "ROOT\\LEGACY_DEMODRV\\0000", "classGuid": "{8ECC055D-047F-11D1-A537-0000F8753ED1}",
         "description": "Demo legacy driver", "service": "demodrv"},
        {"instanceId": "ROOT\\NET\\0000", "className": "net", "description": "Loopback adapter",
         "service": "msloop", "interfaces": ["{CAC88484-7515-4C03-82E6-71A87ABAC361}"]},
        {"instanceId": "USB\\VID_05E3&PID_0608\\5&2&0&1", "className": "USB", "description": "Generic USB Hub",
         "service": "usbhub",
         "children": [stick("BB0000000000000%d" % i) for i in range(3)]},
        {"instanceId": "HID\\VID_046D&PID_C077\\7&3&0&0000", "parent": "HTREE\\ROOT\\0",
         "classGuid": "{745A17A0-74D3-11D0-B6FE-00A0C90F57DA}", "description": "USB Input Device"},
        {"instanceId": "DISPLAY\\DEL4065\\4&1&0&UID0", "className": "Computer"},
        {"instanceId": "A\\B"},
        {"instanceId": "a\\b\\c", "className": "volume", "volume": {"letter": "z"}},
    ]
    lists = [
        [adapter(9), adapter(10)],
        [stick("CC00000000000001"), stick("CC00000000000002"), adapter(11)],
        [{"instanceId": "USB\\VID_1D0E&PID_0002\\DEMO00000001", "className": "USB", "service": "USBSTOR"},
         {"instanceId": "USBSTOR\\DISK&VEN_DEMO\\DEMO00000001&0", "parent": "USB\\VID_1D0E&PID_0002\\DEMO00000001",
          "className": "DiskDrive", "service": "disk"}],
        [stick("DD0000000000000%d" % i) for i in range(8)],
        [],
    ]
    bad = [
        dict(adapter(20), colour="red"),
        {"instanceId": "PCI"},
        {"instanceId": "PCI\\\\0"},
        {"instanceId": "PCI\\" + "X" * 200 + "\\0"},
        {"instanceId": 7},
        adapter(21, className="Printer"),
        adapter(22, classGuid="{not-a-guid}"),
        adapter(23, driver="\\0001", className=""),
        {"instanceId": "USB\\VID_1\\1", "driver": "x"},
        adapter(24, problem=256),
        adapter(25, problem=1.5),
        adapter(26, status=-1),
        adapter(27, status=4294967296),
        adapter(28, present="yes"),
        adapter(29, hardwareIds=[]),
        adapter(30, hardwareIds=[""]),
        adapter(31, hardwareIds=[1, 2]),
        adapter(32, interfaces=["{bad}"]),
        adapter(33, parent="PCI\\NOT\\THERE"),
        adapter(34, volume="E"),
        stick("EE00000000000001", volume={"letter": "C"}),
        stick("EE00000000000002", volume={"letter": "EF"}),
        stick("EE00000000000003", volume={"letter": "1"}),
        stick("EE00000000000004", volume={"type": "floppy"}),
        stick("EE00000000000005", volume={"mountDelay": 3601}),
        stick("EE00000000000006", volume={"mountDelay": -1}),
        stick("EE00000000000007", volume={"guid": "6d7c2b11"}),
        stick("EE00000000000008", volume={"size": 4}),
        {"instanceId": "USB\\A\\1", "children": {"instanceId": "USB\\A\\2"}},
        {"instanceId": "USB\\A\\1", "children": [{"instanceId": "USB\\A\\2", "parent": "HTREE\\ROOT\\0"}]},
        [adapter(35), adapter(35)],
        [adapter(36), "PCI\\VEN\\1"],
        [stick("FF0000000000000%d" % (i % 10), volume={"letter": "Q"}) for i in range(2)],
        [stick("FE%014d" % i) for i in range(23)],
        {"instanceId": "PCI\\VEN_1\\1", "driver": NET + "\\2147483647", "classGuid": NET,
         "children": [{"instanceId": "PCI\\VEN_1\\2", "className": "Net", "service": "e1000"}]},
    ]
    seeds = []
    for value in good + lists + bad:
        seeds.append(json.dumps(value, indent=2).encode())
    for value in good[:12] + lists[:2]:
        seeds.append(json.dumps(value, separators=(",", ":")).encode())
    for name in ("adapter.json", "stick.json"):
        with open(os.path.join(EXAMPLES, "drivers", name), "rb") as f:
            seeds.append(f.read())
    seeds += [b"", b"{", b"null", b"\"USB\\\\A\\\\1\"", b"42", b"[1]", b"{}",
              json.dumps(stick("GG00000000000001")).encode()[:-3],
              b"\xef\xbb\xbf" + json.dumps(adapter(40)).encode(),
              json.dumps(adapter(41, description="Caf\u00e9 \ud83d\ude00 \u00fc")).encode(),
              json.dumps(adapter(42)).encode().replace(b"Intel", b"Int\xffel")]
    return seeds


def example(name):
    with open(os.path.join(EXAMPLES, name), encoding="utf-8") as f:
        return f.read()


def state(name, kind, properties, transitions):
    lines = ['  <state name="%s" type="%s">' % (name, kind)]
    lines += ['    <property key="%s" value="%s"/>' % (k, v) for k, v in properties]
    lines.append("  </state>")
    lines += ['  <transition from="%s" to="%s" event="%s"/>' % (name, to, event) for event, to in transitions]
    return "\n".join(lines)


def wizard(name, *states, start=None):
    start = start or states[0].split('"')[1]
    body = "\n".join(states)
    return ('<?xml version="1.0" encoding="UTF-8"?>\n<fsm name="%s" start="%s">\n%s\n'
            '  <state name="done" type="noop"/>\n  <state name="stop" type="noop">\n'
            '    <property key="event" value="failed"/>\n  </state>\n</fsm>\n' % (name, start, body)).encode()


FINISHED = [("finished", "done"), ("failed", "stop")]
SUCCESS = [("success", "done"), ("failed", "stop")]


def wizard_seeds():
    seeds = [example(n).encode() for n in ("services.xml", "firewall.xml", "drivers.xml", "components.xml")]
    svc = [("serviceName", "DemoSvc")]
    for start_type in ("auto", "manual", "disabled", "boot", "system", "Auto", ""):
        seeds.append(wizard("install", state("install", "installService", svc + [
            ("path", "%PROGRAM_FILES%\\Demo\\demosvc.exe"), ("displayName", "Demo"), ("startType", start_type),
            ("group", "NetworkProvider"), ("description", "A demo")], FINISHED)))
    for timeout in ("0", "20", "-1", "86400", "x", "4294967296"):
        seeds.append(wizard("startstop", state("start", "startService", svc + [("timeout", timeout)],
                                                [("finished", "stopIt"), ("failed", "stop")]),
                            state("stopIt", "stopService", svc + [("timeout", timeout)], FINISHED)))
    seeds.append(wizard("query", state("query", "getServiceStatus", svc, FINISHED)))
    seeds.append(wizard("delete", state("delete", "deleteService", svc, FINISHED)))
    seeds.append(wizard("config", state("config", "configService", svc + [("startType", "auto"), ("group", "")],
                                        FINISHED)))
    seeds.append(wizard("badevent", state("query", "getServiceStatus", svc, [("running", "done")])))
    seeds.append(wizard("noname", state("start", "startService", [], FINISHED)))
    mappings = [
        ("Web;Discovery", "tcp;udp", "8080;5353", "8080;5353", "192.168.0.10;192.168.0.10", "1;0"),
        ("Web", "TCP", "80", "80", "localhost", "true"),
        ("Web;;x", "tcp;icmp", "65536;0", "-1;", "::1;fe80::1%4", "false"),
        ("", "", "", "", "", ""),
    ]
    for description, protocol, ext, internal, ip, opened in mappings:
        seeds.append(wizard("firewall", state("authorise", "configFirewall", [
            ("fullApplicationPath", "%PROGRAM_FILES%\\Demo\\server.exe"), ("friendlyName", "Demo Server"),
            ("description", description), ("protocol", protocol), ("extPort", ext), ("intPort", internal),
            ("targetIp", ip), ("open", opened)], [("success", "done")])))
    seeds.append(wizard("unauthorise", state("remove", "configFirewall", [
        ("fullApplicationPath", "C:\\Demo\\server.exe"), ("remove", "yes")], [("success", "done")])))
    seeds.append(wizard("firewallfails", state("authorise", "configFirewall", [], [("failed", "stop")])))
    for identifier in ("DemoSuite.Catalogue", "{6C5E3A10-0B5D-4D3A-9F1E-2B8C1D7E4F01}",
                       "{6c5e3a10-0b5d-4d3a-9f1e-2b8c1d7e4f01}", "{bad}", ""):
        seeds.append(wizard("component",
                            state("check", "checkAxComponent", [("identifier", identifier)],
                                  [("installed", "done"), ("notInstalled", "install")]),
                            state("install", "installAxComponent", [("identifier", identifier),
                                                                     ("pluginPath", "C:/DemoSetup/democtl.ocx")],
                                  SUCCESS + [("timeout", "stop")])))
    for force in ("", "yes", "1"):
        seeds.append(wizard("msi", state("engine", "systemCheck_installMSI",
                                         [("msiPath", "C:\\DemoSetup"), ("forceReboot", force)],
                                         FINISHED + [("needReboot", "done")])))
    drivers = [
        ("PCI", "PCI\\VEN_1D0E&amp;DEV_0001", ""),
        ("USB", "USB\\VID_1D0E&amp;PID_0002;USB\\VID_0781", "1"),
        ("net", "PCI\\VEN_8086", "true"),
        ("pci", "", "0"),
        ("ROOT", "*", "no"),
    ]
    where = [("rootPath", "C:\\DemoSetup"), ("driverPath", "\\drivers"), ("infFile", "demonet.inf")]
    for enum, ids, inf_installer in drivers:
        props = where + [("enumName", enum), ("hwidList", ids), ("useInfInstaller", inf_installer)]
        seeds.append(wizard("driver",
                            state("before", "checkDriverInstallState", props,
                                  [("nothingInstalled", "install"), ("partlyInstalled", "install"),
                                   ("allInstalled", "done"), ("failed", "stop")]),
                            state("install", "installDriver", props, [("success", "remove"), ("failed", "stop")]),
                            state("remove", "removeDriver", props, SUCCESS)))
    for device in ("USB\\VID_1D0E&amp;PID_0002\\DEMO00000001", "", "USB\\*"):
        seeds.append(wizard("stick", state("stick", "findDriveLetter", [("deviceId", device)], FINISHED)))
    seeds.append(wizard("everything",
                        state("svc", "installService", svc + [("path", "C:\\d.exe"), ("startType", "auto")],
                              [("finished", "fw"), ("failed", "stop")]),
                        state("fw", "configFirewall", [("fullApplicationPath", "C:\\d.exe"), ("friendlyName", "d")],
                              [("success", "drv")]),
                        state("drv", "installDriver", where + [("enumName", "PCI"), ("hwidList", "PCI\\VEN_1")],
                              [("success", "ax"), ("failed", "stop")]),
                        state("ax", "checkAxComponent", [("identifier", "Demo.Thing")],
                              [("installed", "done"), ("notInstalled", "done")])))
    seeds.append(wizard("loop", state("a", "startService", svc, [("finished", "b"), ("failed", "a")]),
                        state("b", "stopService", svc, [("finished", "a"), ("failed", "nowhere")])))
    seeds.append(example("services.xml").replace('type="startService"', 'type="startservice"').encode())
    seeds.append(example("drivers.xml").replace("&amp;", "&").encode())
    seeds.append(example("firewall.xml").encode("utf-16"))
    return seeds


def profile_seeds():
    """Profiles that stage services, connections, the firewall, devices and the installer."""
    staged = [
        {"services": {"SlowService": {"startSeconds": 20, "stopSeconds": 3}, "Stuck": {"hangs": "starting"},
                      "Broken": {"startFailure": 1066},
                      "Sticky": {"stoppable": False, "pausable": True, "state": "running"}}},
        {"services": {"spooler": {"hangs": "stopping", "startSeconds": 0.25}}},
        {"services": {"X": {"startFailure": 4294967295, "state": "stopped"}, "Y": {"hangs": "none"}}},
        {"connections": {"Local Area Connection": {"mappings": [
            {"name": "Web", "protocol": "tcp", "externalPort": 80, "internalPort": 8080, "target": "192.168.0.2"},
            {"name": "DNS", "protocol": "udp", "externalPort": 53, "internalPort": 53, "target": "dns",
             "targetType": "name", "enabled": False}]},
            "Wireless": {"type": "wireless", "firewall": False}, "Dial-up": {"type": "dialup"}}},
        {"connections": {"Local Area Connection": None,
                         "Office": {"status": "mediaDisconnected", "sharing": True, "device": "Intel(R) PRO/1000",
                                    "guid": "{1B2C3D4E-5F60-4172-8394-A5B6C7D8E9F0}"}}},
        {"firewall": {"manager": True, "sharing": False}},
        {"firewall": {"manager": False, "sharing": True}, "connections": {"LAN2": {"status": "hardwareDisabled"}}},
        {"devices": [stick("PR00000000000001"), adapter(50, service="e1g60")]},
        {"devices": [stick("PR00000000000002", volume={"letter": "F", "type": "fixed"})]},
        {"installerVersion": "2.0"},
        {"installerVersion": "3.1.4000.2435"},
        {"installerVersion": None},
        {"registry": {"HKLM\\SYSTEM\\CurrentControlSet\\Services\\SharedAccess\\Parameters\\FirewallPolicy"
                      "\\StandardProfile\\AuthorizedApplications\\List":
                      {"C:\\Demo\\server.exe": "C:\\Demo\\server.exe:*:Disabled:Demo Server"}},
         "services": {"SharedAccess": {"state": "running"}}},
    ]
    refused = [
        {"services": {"X": {"startSeconds": -1}}},
        {"services": {"X": {"hangs": "always"}}},
        {"services": {"X": {"colour": "red"}}},
        {"services": ["X"]},
        {"connections": {"L": {"mappings": [{"name": "a", "externalPort": 0, "internalPort": 1, "target": "x"}]}}},
        {"connections": {"L": {"mappings": [{"name": "a", "externalPort": 80, "internalPort": 80, "target": "x"},
                                            {"name": "b", "externalPort": 80, "internalPort": 81, "target": "y"}]}}},
        {"connections": {"A": {"guid": "{1B2C3D4E-5F60-4172-8394-A5B6C7D8E9F0}"},
                         "B": {"guid": "{1b2c3d4e-5f60-4172-8394-a5b6c7d8e9f0}"}}},
        {"connections": {"L": {"type": "token-ring"}}},
        {"firewall": {"manager": "yes"}},
        {"devices": stick("PR00000000000003")},
        {"devices": [adapter(51, colour="red")]},
        {"devices": [stick("PR00000000000004", volume={"letter": "C"})]},
        {"installerVersion": "2"},
        {"installerVersion": 2.0},
    ]
    seeds = []
    for base in ("winxp-sp2", "win2003", "winxp-sp1", "win98", "vista-x64"):
        for items in staged[:4] if base != "winxp-sp2" else staged:
            seeds.append(json.dumps(dict({"inherits": base}, **items), indent=2).encode())
    for items in refused:
        seeds.append(json.dumps(dict({"inherits": "winxp-sp2"}, **items), indent=2).encode())
    return seeds


def main():
    written = {"device": set(), "wizard": set(), "profile": set()}
    for data in profile_seeds():
        written["profile"].add(save("profile", data))
    for data in device_seeds():
        written["device"].add(save("device", data))
    for data in wizard_seeds():
        written["wizard"].add(save("wizard", data))
    for target, names in written.items():
        print("%s: %d seeds written" % (target, len(names)))


if __name__ == "__main__":
    main()
