#!/usr/bin/env python3
"""Writes the seed corpora of the regfile, profile, pe, component, wininit and inf targets into fuzz/corpus/<target>/,
each input named by the SHA-1 of its bytes (inputs already there stay).

Registry files: what the registry editor and winsteps write and what people write by hand,
each in the editor's UTF-16LE with a byte-order mark and in UTF-8, plus the 8-bit REGEDIT4
form and files that are refused. Profiles: the built-in profiles as they are, then profiles
that inherit one and set each key in each form, and profiles that are refused. Program images:
small PE32 and PE32+ images with a version resource (several sections, resource types, names
and languages, version blocks with and without texts), and the same damaged in each header.
Component files: what a wizard ships for regsvr32.exe (classes with names, ProgIDs and threading
models, staged entry points) and files that are refused. WININIT.INI: what installers of the 9x
family leave in the Windows folder, in their line ends, and damaged. INF files: driver packages
of several device classes (network, USB, display, ports, 9x-only), with decorated sections, strings,
services, continuations and quotes, in UTF-8, CR LF and UTF-16LE, and the same damaged.

    fuzz/makeseeds.py
"""
import hashlib
import json
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
PROFILES = os.path.join(HERE, "..", "src", "platform", "emulated", "profiles")
HEADER = "Windows Registry Editor Version 5.00"


def save(target, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    name = hashlib.sha1(data).hexdigest()
    with open(os.path.join(folder, name), "wb") as out:
        out.write(data)
    return name


def utf16(text):
    """Hex bytes of text as the editor writes hex(2) and hex(7) data."""
    return ",".join("%02x" % b for b in text.encode("utf-16-le"))


def hexlist(data):
    return ",".join("%02x" % b for b in data)


def wrapped(prefix, data):
    """Hex data continued over lines of at most 80 columns, as the editor writes it."""
    lines, line = [], prefix
    pieces = ["%02x," % b for b in data]
    if pieces:
        pieces[-1] = pieces[-1][:-1]
    for piece in pieces:
        if len(line) + len(piece) > 79 and line != "  ":
            lines.append(line + "\\")
            line = "  "
        line += piece
    lines.append(line)
    return "\r\n".join(lines)


UNINSTALL = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Example Software"

# Bodies below the header, with CRLF line ends; each is written in both encodings.
BODIES = [
    '[HKEY_CURRENT_USER\\Software\\Demo]\r\n"Name"="Demo"\r\n',
    '[HKEY_CURRENT_USER\\Software\\Demo]\r\n@="default \\"value\\" with \\\\ backslash"\r\n"na\\"me\\\\"="x"\r\n',
    '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo]\r\n"answer"=dword:0000002a\r\n"zero"=dword:00000000\r\n"all"=dword:ffffffff\r\n',
    '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo]\r\n"binary"=hex:00,01,02,7f,80,ff\r\n"empty"=hex:\r\n',
    '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo]\r\n' + wrapped('"long"=hex:', bytes(range(200))) + "\r\n",
    '[HKEY_CURRENT_USER\\Software\\Imported]\r\n"Path"=hex(2):' + utf16("%TEMP%\\\u00e9\0") + "\r\n",
    '[HKEY_CURRENT_USER\\Software\\Imported]\r\n' + wrapped('"List"=hex(7):', "a\0b\0\u20ac\0\0".encode("utf-16-le")) + "\r\n",
    '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo]\r\n"odd dword"=hex(4):01,02\r\n"qword"=hex(b):01,00,00,00,00,00,00,80\r\n'
    '"none"=hex(0):\r\n"nul inside"=hex(1):61,00,00,00,62,00,00,00\r\n"own type"=hex(ffff0000):2a\r\n',
    '; exported by hand\r\n[HKEY_CURRENT_USER\\Software\\Imported]\r\n"Count"=dword:00000010\r\n@="Standard"\r\n\r\n'
    '[-HKEY_CURRENT_USER\\Software\\Old]\r\n\r\n[HKEY_CURRENT_USER\\Software\\Keep]\r\n"gone"=-\r\n',
    '[-HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce]\r\n"ignored"="after a removal"\r\n',
    '[' + UNINSTALL + ']\r\n"DisplayName"="Example Software 2.1"\r\n"DisplayVersion"="2.1.0"\r\n"Publisher"="Example Ltd"\r\n'
    '"UninstallString"="\\"C:\\\\Program Files\\\\Example\\\\uninstall.exe\\" /S"\r\n"NoModify"=dword:00000001\r\n'
    '"EstimatedSize"=dword:00001f40\r\n',
    '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run]\r\n"Example"="C:\\\\Program Files\\\\Example\\\\tray.exe"\r\n'
    '[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce]\r\n"Finish"="cmd /c del C:\\\\temp\\\\x"\r\n',
    '[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings]\r\n"ProxyEnable"=dword:00000001\r\n'
    '"ProxyServer"="http=proxy:8080;ftp=proxy:2121"\r\n"ProxyOverride"="<local>"\r\n',
    '[HKEY_CURRENT_USER\\Environment]\r\n' + wrapped('"Path"=hex(2):', "%USERPROFILE%\\bin;C:\\Tools\0".encode("utf-16-le")) + "\r\n",
    '[HKEY_CLASSES_ROOT\\.demo]\r\n@="Demo.Document"\r\n\r\n[HKEY_CLASSES_ROOT\\Demo.Document\\shell\\open\\command]\r\n'
    '@="\\"C:\\\\Program Files\\\\Demo\\\\demo.exe\\" \\"%1\\""\r\n',
    '[HKLM\\SOFTWARE\\Short]\r\n"a"="1"\r\n[HKCU\\Software\\Short]\r\n"b"="2"\r\n[HKU\\.DEFAULT\\Software\\Short]\r\n'
    '[HKCC\\Software]\r\n[HKCR\\.short]\r\n@="x"\r\n[HKDD\\PerfStats]\r\n',
    '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Demo32]\r\n"v"="32-bit view"\r\n',
    '[hkey_current_user\\software\\lower]\r\n"d"=DWORD:0000ABCD\r\n"h"=HEX:AB,CD\r\n"e"=HEX(2):41,00,00,00\r\n',
    '[HKEY_CURRENT_USER\\Software\\Spaces]\r\n  "a"  =  "x"  \r\n\t"b"\t=\tdword:00000001\r\n"c"= hex: 01 , 02 ,03\r\n',
    '[HKEY_CURRENT_USER\\Software\\' + "\\".join("Level%d" % i for i in range(40)) + ']\r\n"deep"="yes"\r\n',
    '[HKEY_CURRENT_USER\\Software\\Caf\u00e9 \u20ac \u4e2d\u6587]\r\n"Gr\u00fc\u00dfe"="\u00e9\u00e8\u00ea \u20ac \U0001f600"\r\n',
    '[HKEY_CURRENT_USER\\Software\\Trailing\\]\r\n"t"="slash"\r\n',
    '[HKEY_CURRENT_USER\\Software\\Demo]\r\n"v"="1"\r\n[HKEY_CURRENT_USER\\SOFTWARE\\DEMO]\r\n"V"="2"\r\n"v"=-\r\n',
    '[HKEY_CURRENT_USER\\Software\\Demo]\r\n"h"=hex:01,02,\\\r\n',
    '[HKEY_CURRENT_USER\\Software\\Demo]\r\n"h"=hex:01,\\\r\n  02,\\\r\n\r\n  03\r\n',
    '[HKEY_CURRENT_USER\\Software\\Demo]\r\n"multi"=hex(7):' + utf16("eins\0zwei\0\u20ac\0\0") + "\r\n\"empty list\"=hex(7):00,00\r\n",
    '[HKEY_CURRENT_USER\\Software\\Demo]\r\n""="empty name is the default"\r\n"@"="a value named @"\r\n',
    '[HKEY_CURRENT_USER\\Software\\Demo]\r\n[-HKEY_CURRENT_USER\\Software\\Demo]\r\n[HKEY_CURRENT_USER\\Software\\Demo\\Again]\r\n',
    '[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager]\r\n'
    '"PendingFileRenameOperations"=hex(7):' + utf16("\\??\\C:\\temp\\a.txt\0\0\0") + "\r\n",
    '[HKEY_CURRENT_USER\\Software\\Microsoft\\Internet Account Manager\\Accounts\\00000001]\r\n"Account Name"="Demo Support"\r\n'
    '"SMTP Server"="smtp.example.net"\r\n"SMTP Port"=dword:00000019\r\n',
]

# Bodies the reader refuses, each naming the line at fault.
REFUSED = [
    '"v"="x"\r\n',
    '[HKEY_NOWHERE\\X]\r\n',
    '[HKEY_CURRENT_USER\\X\r\n',
    '[HKEY_CURRENT_USER\\X]\r\n"d"=dword:123456789\r\n',
    '[HKEY_CURRENT_USER\\X]\r\n"d"=dword:-1\r\n',
    '[HKEY_CURRENT_USER\\X]\r\n"h"=hex:01,zz\r\n',
    '[HKEY_CURRENT_USER\\X]\r\n"h"=hex:123\r\n',
    '[HKEY_CURRENT_USER\\X]\r\n"h"=hex(q):01\r\n',
    '[HKEY_CURRENT_USER\\X]\r\n"t"=hex(100000000):01\r\n',
    '[HKEY_CURRENT_USER\\X]\r\nname="x"\r\n',
    '[HKEY_CURRENT_USER\\X]\r\n"v"="x\r\n',
    '[HKEY_CURRENT_USER\\X]\r\n"v"="abc\\"\r\n',
    '[HKEY_CURRENT_USER\\X]\r\n"u"=frob:1\r\n',
    '[-HKEY_CURRENT_USER]\r\n',
    '[HKEY_CURRENT_USER\\Software\\\\X]\r\n',
    '[HKEY_CURRENT_USER\\X]\r\n"v" "x"\r\n',
]


def regfile_seeds():
    seeds = []
    for body in BODIES:
        text = HEADER + "\r\n\r\n" + body
        seeds.append(b"\xff\xfe" + text.encode("utf-16-le"))
        seeds.append(text.encode("utf-8"))
    for body in REFUSED:
        seeds.append((HEADER + "\r\n\r\n" + body).encode("utf-8"))
    # Other spellings of the same files: LF line ends, a UTF-8 byte-order mark, big-endian
    # UTF-16, a stray last byte, no header at all.
    first = HEADER + "\r\n\r\n" + BODIES[8]
    seeds.append(first.replace("\r\n", "\n").encode("utf-8"))
    seeds.append(b"\xef\xbb\xbf" + first.encode("utf-8"))
    seeds.append(b"\xfe\xff" + first.encode("utf-16-be"))
    seeds.append(b"\xff\xfe" + first.encode("utf-16-le") + b"x")
    seeds.append(b"\n\n  " + first.encode("utf-8"))
    seeds.append(b"")
    seeds.append(b"\xef\xbb\xbf")
    seeds.append(b"\x7fELF\x02\x01\x01\0\0\0")
    # The 8-bit form: text types in hex are the bytes of the text itself.
    seeds.append(b'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Old]\r\n"Path"=hex(2):25,54,45,4d,50,25,00\r\n'
                 b'"List"=hex(7):61,00,62,00,00\r\n"Latin"=hex(1):63,61,66,e9,00\r\n"n"=dword:00000001\r\n')
    seeds.append(b'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Old]\n@="caf\xc3\xa9"\n"raw"="caf\xe9"\n')
    return seeds


def builtin_profiles():
    names = sorted(f[:-5] for f in os.listdir(PROFILES) if f.endswith(".json"))
    return [(name, open(os.path.join(PROFILES, name + ".json"), "rb").read()) for name in names]


def profile(base, **keys):
    text = {"inherits": base}
    text.update(keys)
    return json.dumps(text, indent=2, ensure_ascii=False).encode("utf-8")


def profile_seeds():
    seeds = [text for _, text in builtin_profiles()]
    os_record = json.loads(dict(builtin_profiles())["winxp-sp2"])["os"]
    registry = {
        "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings":
            {"ProxyEnable": 1, "ProxyServer": "http=proxy:8080;ftp=proxy:2121"},
        "HKLM\\SOFTWARE\\Example": {
            "@": "default value", "Build": 2107, "Paths": ["a", "b"],
            "Home": {"type": "REG_EXPAND_SZ", "value": "%ProgramFiles%\\Example"}, "@access": "read"},
        "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce": None,
    }
    every_type = {
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Types": {
            "sz": {"type": "REG_SZ", "value": "text"}, "expand": {"type": "reg_expand_sz", "value": "%TEMP%"},
            "multi": {"type": "REG_MULTI_SZ", "value": ["eins", "", "\u20ac"]},
            "dword": {"type": "REG_DWORD", "value": 4294967295}, "qword": {"type": "REG_QWORD", "value": 9007199254740992},
            "binary": {"type": "REG_BINARY", "value": "01,ff,20"}, "none": {"type": "REG_NONE", "value": ""},
            "plain": "text", "number": 0, "list": [], "gone": None},
        "HKU\\.DEFAULT\\Software\\Types": {"@access": "denied"},
        "HKCR\\.types": {"@": "Types.Document", "@access": "full"},
        "HKDD\\PerfStats": {"x": 1},
    }
    good = [
        profile("winxp-sp2", administrator=False, registry=registry),
        profile("winxp-sp2", wow64=True, user="Anna", computerName="BOX-1", shellFolderLibrary=False),
        profile("win2003", wow64=True, registry={"HKLM": {}}),
        profile("vista-x64", os={"build": 6002, "servicePack": "Service Pack 2", "servicePackMajor": 2}),
        profile("win95", os={"servicePack": " C"}),
        profile("winxp-sp2", os={"extendedRecord": False}),
        profile("vista-x64", failures={"GetVersionEx": 1, "IsWow64Process": 5, "GetWindowsDirectory": 3,
                                       "GetSystemDirectory": 5, "CoInitialize": -2147467259,
                                       "CoInitializeSecurity": 4294967295}),
        profile("vista-x64", functions={"IsWow64Process": False}),
        profile("winxp-sp1", functions={"IsWow64Process": True}),
        profile("winxp-sp2", layout={"windows": "WINNT", "system": "sys32", "profiles": "Profiles"}),
        profile("win98", layout={"windows": "WIN98", "system": "SYSTEM"}),
        profile("winxp-sp2", environment={"temp": None, "DATA": "C:\\Data;D:\\x", "PLAIN": "text", "Path": "C:\\bin"}),
        profile("winxp-sp2", shellFolders={"26": "c:\\Data\\", "23": None, "5": "C:", "255": "C:\\Other"}),
        profile("winxp-sp2", registryDefaults=False),
        profile("win2000", registryDefaults=False, registry=registry),
        profile("vista-x64", registry=every_type),
        profile("win98se", registry=every_type),
        profile("winme", registry={"HKLM\\System\\CurrentControlSet\\Control": None, "HKCU\\Software\\A": {"v": "1"},
                                   "HKEY_CURRENT_USER\\SOFTWARE\\a": {"V": "2", "w": None}}),
        profile("base.json", os={"build": 2222}),
        profile("base.json", registry={"HKLM\\SOFTWARE\\Base": None}),
        profile("winxp-sp2", tools={"quick.exe": "exit", "LongTask.EXE": "exit"}, credentials={"user": "Admin", "password": "secret"}),
        profile("winxp-sp2", description="A machine with every key set", wow64=False, administrator=True, user="User",
                computerName="FULL", shellFolderLibrary=True, layout={"windows": "windows", "system": "system32",
                "profiles": "Documents and Settings"}, environment={"X": "C:\\X"}, shellFolders={"26": "C:\\AppData"},
                functions={"IsWow64Process": False}, failures={"CoInitialize": 0}, registryDefaults=True,
                registry={"HKCU\\Software\\Full": {"v": 1}}),
        json.dumps({"os": dict(os_record, platformId=1, major=4, minor=10, build=2222), "registry": every_type}).encode(),
        json.dumps({"description": "no inheritance", "os": {"platformId": 2, "major": 5, "minor": 0, "build": 2195}}).encode(),
        json.dumps({"os": {"platformId": 2, "major": 4, "minor": 0, "build": 1381, "servicePackMajor": 6}}).encode(),
    ]
    refused = [
        profile("winxp-sp2", wow64="yes"),
        profile("winxp-sp2", user="../../etc"),
        profile("winxp-sp2", user=""),
        profile("winxp-sp2", shellFolders={"26": "C:\\..\\..\\x"}),
        profile("winxp-sp2", shellFolders={"256": "C:\\x"}),
        profile("winxp-sp2", shellFolders={"26": "D:\\x"}),
        profile("winxp-sp9"),
        profile("loop.json"),
        profile("missing.json"),
        profile("."),
        profile("winxp-sp2", os={"major": 256}),
        profile("winxp-sp2", os={"build": 1.5}),
        profile("winxp-sp2", os={"servicePack": "x" * 128}),
        profile("winxp-sp2", layout={"windows": ".."}),
        profile("winxp-sp2", layout={"system": "a\\b"}),
        profile("winxp-sp2", environment={"A=B": "x"}),
        profile("winxp-sp2", environment={"X": 5}),
        profile("winxp-sp2", failures={"GetVersionEx": 4294967296}),
        profile("winxp-sp2", functions={"IsWow64Process": 1}),
        profile("winxp-sp2", registryDefaults="no"),
        profile("winxp-sp2", registry={"HKNOWHERE\\X": {}}),
        profile("winxp-sp2", registry={"HKLM": None}),
        profile("winxp-sp2", registry={"HKLM\\\\X": {}}),
        profile("winxp-sp2", registry={"HKLM\\X": []}),
        profile("winxp-sp2", registry={"HKLM\\X": {"d": -1}}),
        profile("winxp-sp2", registry={"HKLM\\X": {"d": {"type": "REG_DWORD", "value": 4294967296}}}),
        profile("winxp-sp2", registry={"HKLM\\X": {"b": {"type": "REG_BINARY", "value": "0g"}}}),
        profile("winxp-sp2", registry={"HKLM\\X": {"t": {"type": "REG_LINK", "value": ""}}}),
        profile("winxp-sp2", registry={"HKLM\\X": {"l": ["a", 1]}}),
        profile("winxp-sp2", registry={"HKLM\\X": {"@access": "write"}}),
        profile("winxp-sp2", registry={"HKLM\\X": {"o": True}}),
        profile("winxp-sp2", adminstrator=False),
        json.dumps({"inherits": 5}).encode(),
        json.dumps({"inherits": ""}).encode(),
        json.dumps({"description": "no os"}).encode(),
        json.dumps({"os": {"platformId": 3, "major": 5, "minor": 1, "build": 1}}).encode(),
        b'{"inherits": "winxp-sp2",}',
        b'{"inherits": "winxp-sp2"',
        b'["winxp-sp2"]',
        b"",
        b'{"inherits": "winxp-sp2", "user": "\\ud800"}',
    ]
    return seeds + good + refused


def u16(v):
    return struct.pack("<H", v & 0xFFFF)


def u32(v):
    return struct.pack("<I", v & 0xFFFFFFFF)


def pad4(data):
    return data + b"\0" * (-len(data) % 4)


def version_node(key, value=b"", value_length=0, text=False, children=()):
    """A node of a version block: header, key, value, then its children, each at 4 bytes."""
    body = pad4(key.encode("utf-16-le") + b"\0\0")
    body += value
    for child in children:
        body = pad4(body) + child
    return u16(6 + len(body)) + u16(value_length) + u16(1 if text else 0) + body


def text_node(name, value):
    data = value.encode("utf-16-le") + b"\0\0"
    return version_node(name, data, len(data) // 2, True)


def version_block(version=(1, 2, 3, 4), strings=(("FileVersion", "1.2.3.4"),), table="040904B0",
                  translation=(0x0409, 1200), signature=0xFEEF04BD, fixed=True):
    ms = version[0] << 16 | version[1]
    ls = version[2] << 16 | version[3]
    record = b"".join(u32(v) for v in (signature, 0x10000, ms, ls, ms, ls, 0x3F, 0, 0x40004, 1, 0, 0, 0))
    children = []
    if strings is not None:
        children.append(version_node("StringFileInfo", text=True, children=[
            version_node(table, text=True, children=[text_node(n, v) for n, v in strings])]))
    if translation is not None:
        children.append(version_node("VarFileInfo", text=True, children=[
            version_node("Translation", u16(translation[0]) + u16(translation[1]), 4)]))
    return version_node("VS_VERSION_INFO", record if fixed else b"", 52 if fixed else 0, children=children)


def resource_tree(resources, base_rva):
    """The resource section of {(type, name, language): data}; names may be ids or texts."""
    types = {}
    for (rtype, name, lang), data in sorted(resources.items(), key=lambda kv: str(kv[0])):
        types.setdefault(rtype, {}).setdefault(name, {})[lang] = data
    # Directories first (offsets known after layout), then names, data entries, data.
    dirs, strings, entries, blobs = [], [], [], []

    def directory(children):
        index = len(dirs)
        dirs.append(children)
        return index

    def layout_dir(tree, depth):
        items = []
        for key, sub in sorted(tree.items(), key=lambda kv: (isinstance(kv[0], int), str(kv[0]))):
            if depth < 2:
                items.append((key, ("dir", layout_dir(sub, depth + 1))))
            else:
                entries.append(sub)
                items.append((key, ("data", len(entries) - 1)))
        return directory(items)

    root = layout_dir(types, 0)
    dir_offsets, at = {}, 0
    order = [root] + [i for i in range(len(dirs)) if i != root]
    for i in order:
        dir_offsets[i] = at
        at += 16 + 8 * len(dirs[i])
    name_offsets = {}
    for i in order:
        for key, _ in dirs[i]:
            if isinstance(key, str) and key not in name_offsets:
                name_offsets[key] = at
                at += 2 + 2 * len(key)
    at += -at % 4
    entry_at = at
    at += 16 * len(entries)
    data_at = []
    for data in entries:
        at += -at % 4
        data_at.append(at)
        at += len(data)
    out = bytearray(at)
    for i in order:
        named = [k for k, _ in dirs[i] if isinstance(k, str)]
        head = u32(0) + u32(0) + u32(0) + u16(len(named)) + u16(len(dirs[i]) - len(named))
        body = b""
        for key, (kind, target) in dirs[i]:
            name = (0x80000000 | name_offsets[key]) if isinstance(key, str) else key
            where = (0x80000000 | dir_offsets[target]) if kind == "dir" else entry_at + 16 * target
            body += u32(name) + u32(where)
        out[dir_offsets[i]:dir_offsets[i] + len(head + body)] = head + body
    for key, offset in name_offsets.items():
        out[offset:offset + 2 + 2 * len(key)] = u16(len(key)) + key.encode("utf-16-le")
    for n, data in enumerate(entries):
        out[entry_at + 16 * n:entry_at + 16 * n + 16] = u32(base_rva + data_at[n]) + u32(len(data)) + u32(0) + u32(0)
        out[data_at[n]:data_at[n] + len(data)] = data
    return bytes(out)


def pe_image(resources=None, plus=False, sections=(".text",), compact=False, directories=16):
    """A PE32 (PE32+ when plus) image: the given empty sections, then .rsrc with the resources."""
    if resources is None:
        resources = {(16, 1, 0x0409): version_block()}
    file_align = 0x10 if compact else 0x200
    optional_size = (112 if plus else 96) + 8 * directories
    names = list(sections) + [".rsrc"]
    headers = 0x40 + 24 + optional_size + 40 * len(names)
    headers += -headers % file_align
    rsrc_rva = 0x1000 * len(names)
    tree = resource_tree(resources, rsrc_rva) if resources else b""
    raw = [b"\xc3" * 16 for _ in sections] + [tree]
    table, body, pointer = b"", b"", headers
    for index, (name, data) in enumerate(zip(names, raw)):
        size = len(data) + (-len(data) % file_align)
        table += name.encode().ljust(8, b"\0") + u32(len(data)) + u32(0x1000 * (index + 1)) + u32(size)
        table += u32(pointer) + u32(0) + u32(0) + u16(0) + u16(0) + u32(0x40000040)
        body += data.ljust(size, b"\0")
        pointer += size
    image_size = 0x1000 * (len(names) + 1)
    opt = u16(0x20B if plus else 0x10B) + bytes([14, 0]) + u32(0x10) + u32(len(tree)) + u32(0) + u32(0x1000)
    opt += u32(0x1000)
    opt += (struct.pack("<Q", 0x140000000) if plus else u32(0x1000) + u32(0x400000))
    opt += u32(0x1000) + u32(file_align) + u16(6) + u16(0) + u16(0) + u16(0) + u16(6) + u16(0) + u32(0)
    opt += u32(image_size) + u32(headers) + u32(0) + u16(2) + u16(0)
    opt += b"".join(struct.pack("<Q" if plus else "<I", v) for v in (0x100000, 0x1000, 0x100000, 0x1000))
    opt += u32(0) + u32(directories)
    for n in range(directories):
        opt += (u32(rsrc_rva) + u32(len(tree))) if n == 2 and resources else u32(0) + u32(0)
    coff = b"PE\0\0" + u16(0x8664 if plus else 0x14C) + u16(len(names)) + u32(0) + u32(0) + u32(0)
    coff += u16(len(opt)) + u16(0x22 if plus else 0x102)
    dos = b"MZ" + b"\0" * 0x3A + u32(0x40)
    return (dos + coff + opt + table).ljust(headers, b"\0") + body


def patched(data, offset, value, size=4):
    out = bytearray(data)
    out[offset:offset + size] = value.to_bytes(size, "little")
    return bytes(out)


def pe_seeds():
    good = [
        pe_image(),
        pe_image(plus=True),
        pe_image(compact=True),
        pe_image(plus=True, compact=True, sections=()),
        pe_image(sections=(".text", ".data", ".reloc")),
        pe_image(directories=3, compact=True),
        pe_image({(16, 1, 0): version_block((4, 5, 6001, 22308), (("FileVersion", "4.5.6001.22308"),
                                                                  ("ProductName", "Windows Installer"),
                                                                  ("ProductVersion", "4.5")))}),
        pe_image({(16, 1, 0x0407): version_block(table="04070000", translation=(0x0407, 0))}),
        pe_image({(16, 1, 0x0409): version_block(strings=None)}, compact=True),
        pe_image({(16, 1, 0x0409): version_block(translation=None)}, compact=True),
        pe_image({(16, 1, 0x0409): version_block(strings=(), translation=None)}, compact=True),
        pe_image({(16, 1, 0x0409): version_block(strings=(("Comments", "caf\u00e9 \u20ac \U0001f600"),))}),
        pe_image({(16, 1, 0x0409): version_block(fixed=False)}, compact=True),
        pe_image({(16, 1, 0x0409): version_block(signature=0x12345678)}, compact=True),
        pe_image({(16, 1, 0x0409): version_block(), (16, 1, 0x0407): version_block((9, 9, 9, 9))}, compact=True),
        pe_image({(16, 1, 0): version_block(), (16, 2, 0): version_block((2, 0, 0, 0))}, compact=True),
        pe_image({(16, "VERSION", 0): version_block(), (16, 1, 0): version_block()}, compact=True),
        pe_image({(3, 1, 0x0409): b"\x28" + b"\0" * 39, (14, 1, 0x0409): b"\0\0\1\0\1\0",
                  (16, 1, 0x0409): version_block(), (24, 1, 0): b"<assembly/>"}, compact=True),
        pe_image({("CUSTOM", "NAME", 0): b"data", (16, 1, 0): version_block()}, plus=True, compact=True),
    ]
    base = pe_image(compact=True)
    damaged = [
        pe_image({(3, 1, 0x0409): b"\x28" + b"\0" * 39}, compact=True),  # no version resource
        pe_image({(16, 2, 0x0409): version_block()}, compact=True),        # no name 1
        pe_image({}, compact=True),                                        # no resources
        pe_image(directories=2, compact=True),
        b"", b"MZ", b"MZ" + b"\0" * 62, b"This file holds no program.\r\n",
        patched(base, 0x3C, 0xFFFFFFF0), patched(base, 0x3C, 0x10), patched(base, 0x40, 0x454E),
        patched(base, 0x58, 0x107, 2), patched(base, 0x46, 0xFFFF, 2), patched(base, 0x46, 0, 2),
        patched(base, 0x54, 0, 2), patched(base, 0x54, 0xFFFF, 2), patched(base, 0xB4, 0xFFFFFFFF),
    ]
    # Cut at every header and inside the resources.
    for cut in (0x3C, 0x42, 0x50, 0x60, 0xB8, 0xD0, 0x120, 0x160, 0x1A0, len(base) - 40, len(base) - 1):
        damaged.append(base[:cut])
    # Fields of the resource tree and the section table at the top of their range, or pointing home.
    section = 0x40 + 24 + 96 + 128 + 40  # the second section header: .rsrc
    rsrc = struct.unpack_from("<I", base, section + 20)[0]
    for offset, value in ((rsrc + 12, 0xFFFFFFFF), (rsrc + 20, 0x80000000), (rsrc + 20, 0xFFFFFFFF),
                          (rsrc + 44, 0x80000000), (rsrc + 44, 0x80000018), (rsrc + 68, 0x80000000),
                          (rsrc + 72, 0xFFFFFFF0), (rsrc + 76, 0xFFFFFFFF), (rsrc + 76, 2)):
        damaged.append(patched(base, offset, value))
    for field, value in ((8, 0xFFFFFFFF), (12, 0xFFFFF000), (16, 0xFFFFFFFF), (20, 0xFFFFFFFF), (20, 0)):
        damaged.append(patched(base, section + field, value))
    return good + damaged


COMPONENT_HEAD = "winsteps component\n"
CLASS_IDS = ["{6C5E3A10-0B5D-4D3A-9F1E-2B8C1D7E4F01}", "{6c5e3a10-0b5d-4d3a-9f1e-2b8c1d7e4f02}",
             "{00000000-0000-0000-0000-000000000000}", "{0002DF01-0000-0000-C000-000000000046}"]


def component_seeds():
    one = COMPONENT_HEAD + "class %s\nname Demo Control\nprogid Demo.Control.1\nthreadingModel Apartment\n" % CLASS_IDS[0]
    good = [
        COMPONENT_HEAD, one, one.replace("\n", "\r\n"), "; shipped with Demo\n\n" + one + "# end\n",
        "  WINSTEPS COMPONENT  \n\tCLASS\t%s\n\tNAME   spaced  name \nPROGID A\nThreadingModel FREE\n" % CLASS_IDS[1],
        one + "progid Demo.Control\nprogid Demo.Control.2\n",
        one + "class %s\nname Second\nprogid Demo.Second.1\nthreadingModel Both\n" % CLASS_IDS[1],
        one + "class %s\nprogid Demo.Control.1\n" % CLASS_IDS[1],               # a ProgID taken over
        one + "class %s\nname again\n" % CLASS_IDS[0],                           # the same class twice
        COMPONENT_HEAD + "class %s\nthreadingModel Neutral\n" % CLASS_IDS[2],
        COMPONENT_HEAD + "class %s\nname Own Application\nprogid Own.Application\n" % CLASS_IDS[3],
        COMPONENT_HEAD + "class %s\nname caf\u00e9 \u20ac \U0001f600\n" % CLASS_IDS[0],
        COMPONENT_HEAD + "class %s\nprogid %s\n" % (CLASS_IDS[0], "A" * 39),
        COMPONENT_HEAD + "class %s\nprogid a.b.c.d.e\nprogid Z9\nprogid x.\n" % CLASS_IDS[0],
        one + "DllRegisterServer fails 0x80070005\n", one + "DllUnregisterServer fails 0x8002801C\n",
        one + "DllRegisterServer missing\n", one + "DllUnregisterServer missing\n",
        one + "dllregisterserver OK\ndllunregisterserver ok\n", one + "DllRegisterServer fails 2147942405\n",
        one + "DllRegisterServer fails 0xFFFFFFFF\nDllRegisterServer ok\n",
        COMPONENT_HEAD + "DllRegisterServer missing\nDllUnregisterServer missing\n",
        COMPONENT_HEAD + "".join("class {6C5E3A10-0B5D-4D3A-9F1E-2B8C1D7E4F%02X}\nprogid Demo.Many.%d\n" % (i, i)
                                 for i in range(40)),
        one + "name " + "n" * 2000 + "\n",
    ]
    refused = [
        "", "\n\n", "; only a comment\n", "class %s\n" % CLASS_IDS[0], "winsteps components\n" + one,
        "MZ\x90\x00\x03", COMPONENT_HEAD + "class {6C5E3A10}\n", COMPONENT_HEAD + "class 6C5E3A10-0B5D-4D3A-9F1E-2B8C1D7E4F01\n",
        COMPONENT_HEAD + "class {6C5E3A10-0B5D-4D3A-9F1E-2B8C1D7E4FZZ}\n", COMPONENT_HEAD + "class\n",
        COMPONENT_HEAD + "progid A.B\n", COMPONENT_HEAD + "name before\n", COMPONENT_HEAD + "threadingModel Both\n",
        one + "progid 1A\n", one + "progid A-B\n", one + "progid %s\n" % ("A" * 40), one + "progid A B\n",
        one + "threadingModel Single\n", one + "threadingModel\n", one + "DllRegisterServer fails 0\n",
        one + "DllRegisterServer fails 0x180070005\n", one + "DllRegisterServer fails -1\n",
        one + "DllRegisterServer fails\n", one + "DllRegisterServer sometimes\n", one + "DllRegisterServer ok now\n",
        one + "inprocserver comp.ocx\n", one + "name a\x00b\n", COMPONENT_HEAD + ";" * (64 * 1024),
    ]
    return [text.encode("utf-8") for text in good + refused] + [one.encode("utf-8") + b"name caf\xe9\n"]


def wininit_seeds():
    sys98 = "C:\\WINDOWS\\SYSTEM\\"
    engine = sys98 + "msiexec.exe=" + sys98 + "MSIEXEC.NEW"
    bodies = [
        "[rename]\r\n" + engine + "\r\n",
        "[rename]\r\nNUL=C:\\TEMP\\SETUP1.TMP\r\n",
        "[Rename]\r\nnul=C:\\WINDOWS\\TEMP\\~MSI0001.TMP\r\nNUL=C:\\WINDOWS\\TEMP\\~MSI0002.TMP\r\n",
        "[rename]\r\n" + sys98 + "MSVCRT.DLL=" + sys98 + "MSVCRT.NEW\r\n" + sys98 + "OLEAUT32.DLL=" + sys98 + "OLEAUT32.NEW\r\n",
        "[RENAME]\r\nC:\\PROGRA~1\\DEMO\\DEMO.EXE=C:\\PROGRA~1\\DEMO\\DEMO.NEW\r\nNUL=C:\\PROGRA~1\\DEMO\\OLD.DLL\r\n",
        "[Misc]\r\nShowBanner=1\r\n\r\n[rename]\r\n" + engine + "\r\n",
        "[rename]\r\n" + engine + "\r\n\r\n[CombineVxDs]\r\nC:\\WINDOWS\\SYSTEM\\VMM32\\IOS.VXD=C:\\WINDOWS\\SYSTEM\\VMM32.VXD\r\n",
        "; written by setup\r\n[rename]\r\n; the engine\r\n" + engine + "\r\n",
        "[rename]\r\n  NUL  =  C:\\TEMP\\A.TMP  \r\n\t" + engine + "\t\r\n",
        "[rename]\r\nC:\\A=\r\n=C:\\B\r\nno equals sign\r\n=\r\n" + engine + "\r\n",
        "[rename]\r\nC:\\A=C:\\B=C:\\C\r\n",
        "[rename]\r\nD:\\OTHER.DLL=C:\\X.DLL\r\nC:\\X.DLL=\\\\SERVER\\SHARE\\X.DLL\r\nC:\\..\\..\\etc\\passwd=C:\\X\r\n",
        "[rename]\r\n[rename]\r\n" + engine + "\r\n[other]\r\n[rename]\r\nNUL=C:\\TEMP\\B.TMP\r\n",
        "[ rename ]\r\n" + engine + "\r\n",
        "[rename\r\n" + engine + "\r\n",
        "[rename]junk after\r\n" + engine + "\r\n",
        "[]\r\n" + engine + "\r\n",
        engine + "\r\n",
        "[other]\r\n" + engine + "\r\n",
        "[rename]\r\nC:\\PROGRAM FILES\\DEMO SUITE\\APP.EXE=C:\\PROGRAM FILES\\DEMO SUITE\\APP.NEW\r\n",
        "[rename]\r\nC:\\Caf\u00e9\\\u20ac.DLL=C:\\Caf\u00e9\\\u20ac.NEW\r\n",
        "[rename]\r\nNUL=C:\\TEMP\\A.TMP\r\nNUL=C:\\TEMP\\A.TMP\r\n",
        "[rename]\r\n" + "".join("NUL=C:\\TEMP\\F%04d.TMP\r\n" % i for i in range(200)),
        "[rename]\r\n" + "C:\\" + "LONG\\" * 100 + "X=C:\\Y\r\n",
        "",
        "[rename]",
        "[rename]\r\n" + engine,
    ]
    seeds = []
    for body in bodies:
        seeds.append(body.encode("utf-8"))
    for body in bodies[:12]:
        seeds.append(body.replace("\r\n", "\n").encode("utf-8"))
        seeds.append(body.replace("\r\n", "\r").encode("utf-8"))
    seeds += [
        b"\xef\xbb\xbf[rename]\r\n" + engine.encode() + b"\r\n",
        b"[rename]\r\nC:\\CAF\xc9.DLL=C:\\CAF\xc9.NEW\r\n",
        b"[rename]\r\nNUL=C:\\A\x00.TMP\r\n" + engine.encode() + b"\r\n",
        b"[rename]\x00" + engine.encode() + b"\x00",
        b"[rename]\r\n" + b"NUL=" + b"x" * 70000 + b"\r\n",
        "[rename]\r\n".encode("utf-16-le"),
        b"\x7fELF\x02\x01\x01\x00",
    ]
    return seeds


INF_PACKAGES = [
    # (signature, class, class GUID, decorations, models [(description key, install, ids)], service)
    ("$Windows NT$", "Net", "{4d36e972-e325-11ce-bfc1-08002be10318}", ["NTx86", "NTamd64"],
     [("E100E.Desc", "E100E.Inst", ["PCI\\VEN_8086&DEV_100E&SUBSYS_001E8086", "PCI\\VEN_8086&DEV_100E"])], "E1000"),
    ("$Windows NT$", "USB", "{36fc9e60-c465-11cf-8056-444553540000}", ["NTx86.5.1", "NTamd64.6.0"],
     [("Hub.Desc", "Hub.Dev", ["USB\\VID_0451&PID_2046"]), ("Cam.Desc", "Cam.Dev", ["USB\\VID_046D&PID_0825&MI_00", "USB\\Class_0E"])],
     "usbcam"),
    ("$Chicago$", "Ports", "{4d36e978-e325-11ce-bfc1-08002be10318}", ["NT"],
     [("Com.Desc", "ComPort", ["*PNP0501", "*PNP0500"])], "Serial"),
    ("$Windows NT$", "Display", "{4d36e968-e325-11ce-bfc1-08002be10318}", [],
     [("Vga.Desc", "Vga.Inst", ["PCI\\VEN_1234&DEV_1111"])], "vgasave"),
    ("$Chicago$", "Net", "{4d36e972-e325-11ce-bfc1-08002be10318}", [],
     [("Ne2k.Desc", "Ne2k.ndi", ["*PNP80D6", "ISAPNP\\EDI0216"])], None),
    ("$Windows NT$", "Net", "{4d36e972-e325-11ce-bfc1-08002be10318}", ["NTamd64"],
     [("Wlan.Desc", "Wlan.Inst", ["USB\\VID_0CF3&PID_9271"])], "athusb"),
    ("$Windows NT$", "HIDClass", "{745a17a0-74d3-11d0-b6fe-00a0c90f57da}", ["NTx86", "NTamd64", "NT"],
     [("Pad.Desc", "Pad.Inst", ["HID\\VID_045E&PID_028E", "HID_DEVICE_SYSTEM_GAME"])], "xusb21"),
    ("$Windows NT$", "DiskDrive", "{4d36e967-e325-11ce-bfc1-08002be10318}", ["NTx86"],
     [("Disk.Desc", "disk_install", ["USBSTOR\\DiskGeneric_Flash_Disk______8.07", "USBSTOR\\GenDisk"])], "disk"),
]


def inf_text(signature, cls, guid, decorations, models, service, provider="Example Devices"):
    lines = ["; %s driver package" % cls, "[Version]", 'Signature   = "%s"' % signature, "Class       = %s" % cls,
             "ClassGuid   = %s" % guid, "Provider    = %Mfg%", "DriverVer   = 07/01/2006,5.1.2600.0", "",
             "[Manufacturer]", "%Mfg% = Models" + "".join(", " + d for d in decorations), ""]
    for section in ["Models"] + ["Models." + d for d in decorations]:
        lines.append("[%s]" % section)
        for key, install, ids in models:
            lines.append("%%%s%% = %s, %s" % (key, install, ", ".join(ids)))
        lines.append("")
    for key, install, ids in models:
        for suffix in ("", ".NT", ".NTx86", ".NTamd64"):
            lines += ["[%s%s]" % (install, suffix), "CopyFiles = Files.Copy", ""]
            if service and suffix:
                lines += ["[%s%s.Services]" % (install, suffix), "AddService = %s, 0x00000002, Service.Inst" % service, ""]
    if service:
        lines += ["[Service.Inst]", "DisplayName    = %%%s%%" % models[0][0], "ServiceType    = 1", "StartType      = 3",
                  "ErrorControl   = 1", "ServiceBinary  = %%12%%\\%s.sys" % service, "LoadOrderGroup = NDIS", ""]
    lines += ["[Files.Copy]", "%s.sys,,,2" % (service or "driver"), "", "[Strings]", 'Mfg = "%s"' % provider]
    for key, install, ids in models:
        lines.append('%s = "%s %s"' % (key, provider, key.split(".")[0]))
    return "\n".join(lines) + "\n"


def inf_seeds():
    seeds = []
    texts = [inf_text(*package) for package in INF_PACKAGES]
    for text in texts:
        seeds += [text.encode(), text.replace("\n", "\r\n").encode(),
                  b"\xff\xfe" + text.replace("\n", "\r\n").encode("utf-16-le")]
    base = texts[0]
    good_variants = [
        base.replace('Provider    = %Mfg%', 'Provider    = "Caf\u00e9 ""Quoted"" Works"'),
        base.replace("%E100E.Desc% = E100E.Inst, ", "%E100E.Desc% = E100E.Inst, \\\n   "),
        base.replace("[Strings]", "[Strings]\nPercent = \"50%% off\""),
        base.replace("DriverVer   = 07/01/2006,5.1.2600.0", "DriverVer = 1/2/2003"),
        base.replace("[Manufacturer]", "[Manufacturer] ; comment after a section\n; only a comment"),
        base + "\n[version]\nCatalogFile = e1000.cat\n",
        base.replace("%Mfg% = Models, NTx86, NTamd64", "Models"),
        base.replace("E100E.Inst, PCI", "E100E.Inst, , PCI"),
        base.replace(", NTx86, NTamd64", ", NTx86.6.0, NTx86.5.1, NTia64"),
        base.replace("\n", "\r"),
    ]
    bad_variants = [
        base.replace("$Windows NT$", "$Windows 95$"),
        base.replace("ClassGuid", "ClassGUIDs"),
        base.replace("-08002be10318}", "-08002be1031}"),
        base.replace("07/01/2006", "2006-07-01"),
        "Signature = x\n" + base,
        base.replace("[Strings]", "[Strings"),
        base.replace("[Strings]", "[Strings] tail"),
        base.replace('"Example Devices"', '"Example'),
        base.replace("[Models.NTx86]", "[Other.NTx86]"),
        base.replace("[Service.Inst]", "[Other.Inst]"),
        base.replace("StartType      = 3", "StartType = demand"),
        "[" + "s" * 300 + "]\n",
        "[Version]\nSignature=\"$Chicago$\"\nClass=" + "x" * 5000 + "\n",
        base.replace("AddService = E1000", "AddService = "),
        "[Strings]\nA=%B%\n",
        "",
    ]
    seeds += [text.encode("utf-8") for text in good_variants + bad_variants]
    seeds += [
        b"\xfe\xff\x00[\x00V",
        b"\xff\xfe[\x00V",
        base.encode()[:200] + b"\x00" + base.encode()[200:],
        b"\xef\xbb\xbf" + base.encode(),
        b"\xef\xbb\xbf\xff" + base.encode(),
        base.encode("latin-1", "replace").replace(b"Example", b"Caf\xe9"),
    ]
    return seeds


def main():
    written = {"regfile": set(), "profile": set(), "pe": set(), "component": set(), "wininit": set(), "inf": set()}
    for data in regfile_seeds():
        written["regfile"].add(save("regfile", data))
    for data in profile_seeds():
        written["profile"].add(save("profile", data))
    for data in pe_seeds():
        written["pe"].add(save("pe", data))
    for data in component_seeds():
        written["component"].add(save("component", data))
    for data in wininit_seeds():
        written["wininit"].add(save("wininit", data))
    for data in inf_seeds():
        written["inf"].add(save("inf", data))
    for target, names in written.items():
        print("%s: %d seeds" % (target, len(names)))


if __name__ == "__main__":
    main()
