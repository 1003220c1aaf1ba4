"""Loading libkorvik-0 and declaring its flat functions for ctypes."""

from __future__ import annotations

import ctypes
import mmap
import os
from pathlib import Path
from typing import Any, Dict, List, Optional, Tuple

from ctypes import (CFUNCTYPE, POINTER, Structure, c_char_p, c_double, c_int, c_int32,
                    c_ubyte, c_uint, c_uint8, c_uint16, c_void_p)

__all__ = ["lib", "libc", "library_path", "CALLBACK_TYPES", "StatusRecord", "DEVICE_CALLBACK_KINDS"]

LIBRARY_NAME = "korvik-0"
# the name the dynamic linker knows the installed library by (its package,
# libkorvik-0-0, puts it where ldconfig looks)
SONAME = "libkorvik-0.so.0"
# the link name a build tree has beside it
LINK_NAME = "libkorvik-0.so"


def _needs_asan(path: Path) -> bool:
    """A library built with AddressSanitizer aborts the whole process when it
    is loaded without the sanitizer runtime in place; look before loading."""
    try:
        with open(path, "rb") as f, mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ) as m:
            if m.find(b"libasan.so") < 0:
                return False
    except (OSError, ValueError):
        return False
    try:
        with open("/proc/self/maps", "r", encoding="utf-8", errors="replace") as maps:
            return "libasan.so" not in maps.read()
    except OSError:
        return True


def _build_tree_candidates() -> List[Path]:
    """libkorvik-0 in the build directories of the checkout this file lies in."""
    here = Path(__file__).resolve()
    for top in here.parents:
        if (top / "lib" / "api" / "korvik" / "korvik.h").is_file():
            found = []
            # the plain build first: the test build is usually sanitized
            for build in sorted(top.glob("build*"), key=lambda p: (p.name != "build", p.name)):
                for sub in ("lib", "."):
                    found.append(build / sub / LINK_NAME)
            return found
    return []


def _load() -> Tuple[ctypes.CDLL, str]:
    tried: List[str] = []

    def attempt(name: str, is_path: bool) -> Optional[ctypes.CDLL]:
        if is_path:
            p = Path(name)
            if not p.exists():
                tried.append(f"{name} (no such file)")
                return None
            if _needs_asan(p):
                tried.append(f"{name} (built with AddressSanitizer: start Python with "
                             "LD_PRELOAD set to the libasan of its compiler)")
                return None
        try:
            return ctypes.CDLL(name)
        except OSError as e:
            tried.append(f"{name} ({e})")
            return None

    explicit = os.environ.get("KORVIK_LIBRARY")
    if explicit:
        # an explicit choice is not second-guessed with other copies
        lib = attempt(explicit, True)
        if lib is not None:
            return lib, explicit
    else:
        # by SONAME, as a program linked against it would find it
        lib = attempt(SONAME, False)
        if lib is not None:
            return lib, SONAME
        candidates = [p for p in _build_tree_candidates() if p.exists()]
        for path in candidates:
            lib = attempt(str(path), True)
            if lib is not None:
                return lib, str(path)
        if not candidates:
            tried.append("the build directories of a checkout (none found beside this package)")
    raise ImportError("korvik: cannot load libkorvik-0; tried:\n  " + "\n  ".join(tried) +
                      "\nSet KORVIK_LIBRARY to the path of libkorvik-0.so, or install the library.")


class StatusRecord(Structure):
    """One status report as the library passes it (korvik_status)."""
    _fields_ = [
        ("time_sec", c_int32), ("time_usec", c_int32),
        ("ticks", c_uint16), ("value1", c_uint16), ("value2", c_uint16), ("value3", c_uint16),
        ("progstate", c_uint8), ("progdetail", c_uint8),
        ("aux1", c_uint8), ("aux2", c_uint8), ("aux3", c_uint8),
        ("flag2", c_uint8), ("flag3", c_uint8), ("flag0", c_uint8), ("flag1", c_uint8),
        ("flag4", c_uint8), ("flag5", c_uint8), ("flag6", c_uint8), ("flag7", c_uint8),
    ]


_bytes_p = POINTER(c_ubyte)

# Any: a type called without arguments gives the null function that removes a callback
CALLBACK_TYPES: Dict[str, Any] = {
    "serial": CFUNCTYPE(None, c_char_p, c_void_p),
    "iface": CFUNCTYPE(None, c_char_p, c_char_p, c_void_p),
    "status": CFUNCTYPE(None, POINTER(StatusRecord), c_void_p),
    "packet": CFUNCTYPE(None, c_void_p, c_uint, c_void_p, c_void_p),
    "packet_v2": CFUNCTYPE(None, c_void_p, c_uint, c_void_p, c_int, c_int, c_void_p),
    "register": CFUNCTYPE(None, c_uint, c_uint, c_uint, c_void_p),
    "bitfield": CFUNCTYPE(None, c_uint, c_uint, c_void_p),
    "autoranging": CFUNCTYPE(None, c_int, c_int, c_void_p),
    "changed": CFUNCTYPE(None, c_void_p),
}

# value names that have a changed_<name> callback
CHANGED_NAMES = (
    "nv_ethmac", "nv_radio_ethmac", "nv_serial", "chacc_channelaccessmode", "chacc_ppersistence",
    "chacc_slottime", "chacc_rssithreshold", "chacc_bgndthreshold", "chacc_preamble",
    "chacc_addrmatch1", "chacc_addrmatch2", "chacc_addrlength", "chacc_addr1", "chacc_addr2",
    "transmit_cw", "packetcounters", "xtal_frequency", "xtal_tolerance", "rx_modulation",
    "tx_modulation", "rx_carrierfrequency", "tx_carrierfrequency", "rx_bandwidth", "tx_deviation",
    "rx_bitrate", "tx_bitrate", "rx_btr", "tx_power", "iffrequency", "framingmode", "enc_invert",
    "enc_diff", "enc_scrambler", "enc_manchester", "crcmode", "crcinit", "preamble",
    "preamble_length",
)

# callback kind -> (setter suffix, C callback type)
DEVICE_CALLBACK_KINDS: Dict[str, Tuple[str, str]] = {
    "status": ("status", "status"),
    "receive_packet": ("receive_packet_v2", "packet_v2"),
    "transmit_packet": ("transmit_packet", "packet"),
    "changed_register": ("changed_register", "register"),
    "changed_bitfield": ("changed_bitfield", "bitfield"),
    "terminate_autoranging": ("terminate_autoranging", "autoranging"),
}
DEVICE_CALLBACK_KINDS.update({"changed_" + n: ("changed_" + n, "changed") for n in CHANGED_NAMES})

H = c_void_p
U = c_uint
I = c_int
D = c_double
STR = c_void_p          # malloc'd char*, released after copying
LIST = POINTER(c_char_p)
MAC = c_void_p          # pointer into the board's storage

# name -> (result, argument types)
_PROTOTYPES: Dict[str, Tuple[object, Tuple[object, ...]]] = {
    "get_version": (c_char_p, ()),
    "open": (H, (c_char_p,)),
    "open_iface": (H, (c_char_p,)),
    "open_simulation": (H, (c_char_p, c_char_p, c_char_p, c_char_p)),
    "close": (None, (H,)),
    "periodic": (None, ()),
    "rescan_devices": (None, ()),
    "release_unopened_boards": (None, ()),
    "get_busy_boards": (LIST, ()),
    "get_poll_handles": (POINTER(c_void_p), (POINTER(c_uint), POINTER(c_int))),
    "get_supported_chips": (LIST, ()),
    "free_stringlist": (None, (LIST,)),
    "set_callback_device_iface_connect": (None, (CALLBACK_TYPES["iface"], c_void_p)),
    "set_callback_device_iface_disconnect": (None, (CALLBACK_TYPES["iface"], c_void_p)),
    # identity and state
    "get_serial": (STR, (H,)), "get_interface": (STR, (H,)), "get_display_name": (STR, (H,)),
    "get_nv_serial": (STR, (H,)), "get_chip_name": (STR, (H,)),
    "get_ethernet_mac": (MAC, (H,)), "get_radio_ethernet_mac": (MAC, (H,)),
    "get_nv_ethernet_mac": (MAC, (H,)), "get_nv_radio_ethernet_mac": (MAC, (H,)),
    "get_rx_pkt_count": (U, (H,)), "get_tx_pkt_count": (U, (H,)),
    "is_transmit_cw": (I, (H,)), "is_dead": (I, (H,)), "is_nv_interrupted": (I, (H,)), "is_net_up": (I, (H,)),
    "get_boardflags": (U, (H,)), "get_chipflags": (U, (H,)),
    # NV and defaults
    "set_nv_ethmac": (None, (H, c_char_p)), "set_nv_radio_ethmac": (None, (H, c_char_p)),
    "set_nv_serial": (None, (H, c_char_p)),
    "load_chipoperating": (None, (H,)), "load_chipdefaults": (None, (H,)),
    "load_boarddefaults": (None, (H,)), "store_boarddefaults": (None, (H,)),
    # packets
    "send_packet": (None, (H, c_char_p, U, c_char_p)),
    "send_bpq_packet": (None, (H, c_char_p, U, c_char_p)),
    "set_transmit_cw": (None, (H, I)),
    # channel access
    "get_chacc_supported_channelaccessmodes": (LIST, (H,)),
    "get_chacc_channelaccessmode": (I, (H,)), "get_chacc_ppersistence": (D, (H,)),
    "get_chacc_slottime": (D, (H,)), "get_chacc_rssithreshold": (D, (H,)),
    "get_chacc_bgndthreshold": (D, (H,)), "get_chacc_preamble": (U, (H,)),
    "get_chacc_preamble_sec": (D, (H,)), "get_chacc_addrlength": (U, (H,)),
    "get_chacc_addrmatch1": (I, (H,)), "get_chacc_addrmatch2": (I, (H,)),
    "get_chacc_addr1": (None, (H, _bytes_p)), "get_chacc_addr2": (None, (H, _bytes_p)),
    "set_chacc_channelaccessmode": (None, (H, I)), "set_chacc_ppersistence": (None, (H, D)),
    "set_chacc_slottime": (None, (H, D)), "set_chacc_rssithreshold": (None, (H, D)),
    "set_chacc_bgndthreshold": (None, (H, D)), "set_chacc_preamble": (None, (H, c_ubyte)),
    "set_chacc_addrlength": (None, (H, c_ubyte)), "set_chacc_addrmatch1": (None, (H, I)),
    "set_chacc_addrmatch2": (None, (H, I)),
    "set_chacc_addr1": (None, (H, c_char_p)), "set_chacc_addr2": (None, (H, c_char_p)),
    # registers and bitfields
    "get_registers": (U, (H,)), "get_register_mask": (U, (H, U)),
    "get_register_chipaddr": (U, (H, U)), "get_register_operatingaddr": (U, (H, U)),
    "get_register_chipvalue": (U, (H, U)), "get_register_nvvalue": (U, (H, U)),
    "get_register_defaultvalue": (U, (H, U)), "get_register_changemask": (U, (H, U)),
    "set_register_chipvalue": (None, (H, U, c_ubyte)),
    "frob_register_chipvalue": (None, (H, U, c_ubyte, c_ubyte)),
    "is_register_shared": (I, (H, U)), "is_register_receive": (I, (H, U)),
    "is_register_transmit": (I, (H, U)), "get_register_name": (STR, (H, U)),
    "commit_registers": (None, (H,)), "commit_all_registers": (None, (H,)),
    "get_bitfields": (U, (H,)), "get_bitfield_chipvalue": (U, (H, U)),
    "get_bitfield_nvvalue": (U, (H, U)), "get_bitfield_defaultvalue": (U, (H, U)),
    "get_bitfield_changemask": (U, (H, U)), "set_bitfield_chipvalue": (None, (H, U, U)),
    "get_bitfield_bitlength": (U, (H, U)), "get_bitfield_name": (STR, (H, U)),
    "get_bitfield_description": (STR, (H, U)), "get_bitfield_tooltip": (STR, (H, U)),
    # chip
    "get_xtal_frequency": (U, (H,)), "get_xtal_tolerance": (D, (H,)),
    "get_supported_rx_btr_settings": (LIST, (H,)), "get_supported_modulations": (LIST, (H,)),
    "get_supported_framingmodes": (LIST, (H,)), "get_supported_crcmodes": (LIST, (H,)),
    "get_supported_encodingmodes": (U, (H,)), "get_currents": (None, (H, POINTER(c_double))),
    # air interface
    "get_rx_modulation": (I, (H,)), "get_tx_modulation": (I, (H,)),
    "get_rx_carrierfrequency": (D, (H,)), "get_tx_carrierfrequency": (D, (H,)),
    "get_rx_bandwidth": (D, (H,)), "get_tx_deviation": (D, (H,)),
    "get_rx_bitrate": (D, (H,)), "get_tx_bitrate": (D, (H,)),
    "get_rx_btr": (I, (H,)), "get_rx_btr_preamble": (I, (H,)), "get_tx_power": (D, (H,)),
    "get_rx_range": (U, (H,)), "get_tx_range": (U, (H,)),
    "get_rx_maxfrequencyoffset": (D, (H,)), "convert_frequencyoffset": (D, (H, I)),
    "get_iffrequency": (D, (H,)), "get_agcreference": (I, (H,)), "get_framingmode": (I, (H,)),
    "get_enc_invert": (I, (H,)), "get_enc_diff": (I, (H,)), "get_enc_scrambler": (I, (H,)),
    "get_enc_manchester": (I, (H,)), "get_crcmode": (I, (H,)), "get_crcinit": (U, (H,)),
    "get_crclength": (U, (H,)), "get_txkeyup": (U, (H,)), "get_txkeyup_length": (U, (H,)),
    "get_preamble": (U, (H,)), "get_preamble_length": (U, (H,)),
    "get_postamble_length": (U, (H,)), "is_framingmode_crcsupported": (I, (H,)),
    "set_xtal_frequency": (None, (H, U)), "set_xtal_tolerance": (None, (H, D)),
    "set_rx": (None, (H, D, D, I, I)), "set_tx": (None, (H, D, D, I)),
    "set_rx_modulation": (None, (H, I)), "set_tx_modulation": (None, (H, I)),
    "set_rx_carrierfrequency": (None, (H, D)), "set_tx_carrierfrequency": (None, (H, D)),
    "set_rx_bandwidth": (None, (H, D)), "set_tx_deviation": (None, (H, D)),
    "set_rx_bitrate": (None, (H, D)), "set_tx_bitrate": (None, (H, D)),
    "set_rx_btr": (None, (H, I)), "set_tx_power": (None, (H, D)),
    "step_tx_power": (None, (H, I)), "set_rx_range": (None, (H, U)),
    "set_tx_range": (None, (H, U)), "set_iffrequency": (None, (H, D)),
    "set_framingmode": (None, (H, I)), "set_enc_invert": (None, (H, I)),
    "set_enc_diff": (None, (H, I)), "set_enc_scrambler": (None, (H, I)),
    "set_enc_manchester": (None, (H, I)), "set_crcmode": (None, (H, I)),
    "set_crcinit": (None, (H, U)), "set_preamble": (None, (H, U)),
    "set_preamble_length": (None, (H, U)),
}
for _kind, (_suffix, _type) in DEVICE_CALLBACK_KINDS.items():
    _PROTOTYPES["set_callback_" + _suffix] = (None, (H, CALLBACK_TYPES[_type], c_void_p))


CALLBACK_TYPES["diagnostic"] = CFUNCTYPE(None, c_char_p, c_void_p)

# newer functions: declared when the loaded library has them
_OPTIONAL: Dict[str, Tuple[object, Tuple[object, ...]]] = {
    "set_virtual_air": (None, (I,)),
    "is_virtual_air": (I, ()),
    "set_virtual_air_seed": (None, (U,)),
    "set_virtual_air_path_loss": (None, (D,)),
    "set_virtual_air_pair_path_loss": (None, (c_char_p, c_char_p, D)),
    "start_capture": (I, (c_char_p, I)),
    "stop_capture": (None, ()),
    "open_replay": (H, (c_char_p, c_char_p, U)),
    "set_diagnostic_sink": (None, (CALLBACK_TYPES["diagnostic"], c_void_p)),
    "get_register_label": (STR, (H, U)),
    "set_virtual_air_fast": (None, (I,)),
    "is_virtual_air_fast": (I, ()),
    "get_virtual_air_in_flight": (U, ()),
    "get_virtual_air_time": (D, ()),
    "check_link": (I, (H, H, c_char_p, U, D)),
    "check_link_json": (STR, (H, H, c_char_p, U, D)),
    "connect_server": (I, (c_char_p, POINTER(c_void_p))),
    "disconnect_server": (I, (c_char_p,)),
}


class _Functions:
    """The library's functions without their common prefix: lib.get_rx_bitrate(handle)."""

    def has(self, name: str) -> bool:
        return name in self.__dict__

    def __getattr__(self, name: str) -> Any:
        # reached only for names _declare did not set: optional functions
        # this library lacks (the declared ones are instance attributes)
        raise AttributeError(f"libkorvik_{name} is not in the loaded library ({library_path})")


def _declare(dll: ctypes.CDLL) -> _Functions:
    funcs = _Functions()
    for name, (restype, argtypes) in list(_PROTOTYPES.items()) + list(_OPTIONAL.items()):
        try:
            f = getattr(dll, "libkorvik_" + name)
        except AttributeError:
            if name in _OPTIONAL:
                continue
            raise ImportError(f"korvik: {library_path} lacks libkorvik_{name}; it is older than this package")
        f.restype = restype
        f.argtypes = list(argtypes)
        setattr(funcs, name, f)
    return funcs


_dll, library_path = _load()
lib = _declare(_dll)
# the library's strings are malloc copies: release them with the same allocator
libc = ctypes.CDLL(None)
libc.free.argtypes = [c_void_p]
libc.free.restype = None
