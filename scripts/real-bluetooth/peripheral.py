#!/usr/bin/env python3
"""The pistol's side of the real-stack test: a GATT service and an advertisement
registered through bluetoothd on one adapter, driven by commands on stdin.

Arguments: adapter (hci1), name (Pistol), --hidden to start without advertising.
Commands: fire | eject | load (send one button packet), hide (stop advertising
and drop every link), show (advertise again), quit.
Every event is one line on stdout, stamped with the monotonic clock so the
runner can set it against the host's lines.

It outlives bluetoothd and the adapter: whenever org.bluez comes back or the
adapter reappears powered, the service and (unless hidden) the advertisement
are registered again.
"""
import sys
import time

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

BLUEZ = "org.bluez"
SERVICE_UUID = "0000fff0-0000-1000-8000-00805f9b34fb"
CHAR_UUID = "0000fff1-0000-1000-8000-00805f9b34fb"
APP_PATH = "/vk5/pistol"
SERVICE_PATH = APP_PATH + "/service0"
CHAR_PATH = SERVICE_PATH + "/char0"
ADV_PATH = APP_PATH + "/adv0"
PACKETS = {
    "fire": [0x5B, 0x00, 0x00, 0x00, 0x00, 0x5D],
    "eject": [0x5C, 0x00, 0x5C, 0x5D],
    "load": [0x5C, 0x01, 0x5D, 0x5D],
}
# Calls to bluetoothd never wait the bus's default 25 s: a daemon that is going away answers nothing.
CALL_TIMEOUT = 5


def say(text):
    print(f"{time.monotonic():.6f} {text}", flush=True)


class Application(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, APP_PATH)

    @dbus.service.method("org.freedesktop.DBus.ObjectManager", out_signature="a{oa{sa{sv}}}")
    def GetManagedObjects(self):
        return {
            dbus.ObjectPath(SERVICE_PATH): {
                "org.bluez.GattService1": {
                    "UUID": SERVICE_UUID,
                    "Primary": dbus.Boolean(True),
                    "Characteristics": dbus.Array([dbus.ObjectPath(CHAR_PATH)], signature="o"),
                }
            },
            dbus.ObjectPath(CHAR_PATH): {
                "org.bluez.GattCharacteristic1": {
                    "UUID": CHAR_UUID,
                    "Service": dbus.ObjectPath(SERVICE_PATH),
                    "Flags": dbus.Array(["read", "notify"], signature="s"),
                    "Value": dbus.Array([], signature="y"),
                }
            },
        }


class Characteristic(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, CHAR_PATH)
        self.notifying = False
        self.value = []

    @dbus.service.method("org.bluez.GattCharacteristic1", in_signature="a{sv}", out_signature="ay")
    def ReadValue(self, options):
        return dbus.Array(self.value, signature="y")

    @dbus.service.method("org.bluez.GattCharacteristic1")
    def StartNotify(self):
        self.notifying = True
        say("subscribed")

    @dbus.service.method("org.bluez.GattCharacteristic1")
    def StopNotify(self):
        self.notifying = False
        say("unsubscribed")

    @dbus.service.signal("org.freedesktop.DBus.Properties", signature="sa{sv}as")
    def PropertiesChanged(self, interface, changed, invalidated):
        pass

    def send(self, kind):
        if not self.notifying:
            say(f"{kind}: not sent, nobody subscribed")
            return
        self.value = PACKETS[kind]
        value = dbus.Array([dbus.Byte(b) for b in self.value], signature="y")
        self.PropertiesChanged("org.bluez.GattCharacteristic1", {"Value": value}, [])
        say(f"sent {kind}")


class Advertisement(dbus.service.Object):
    def __init__(self, bus, name):
        super().__init__(bus, ADV_PATH)
        self.name = name

    @dbus.service.method("org.freedesktop.DBus.Properties", in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return {
            "Type": "peripheral",
            "LocalName": self.name,
            "ServiceUUIDs": dbus.Array(["FFF0"], signature="s"),
        }

    @dbus.service.method("org.bluez.LEAdvertisement1")
    def Release(self):
        say("advertisement released")


class Pistol:
    def __init__(self, bus, adapter, name, visible):
        self.bus = bus
        self.adapter_path = "/org/bluez/" + adapter
        self.app = Application(bus)
        self.char = Characteristic(bus)
        self.adv = Advertisement(bus, name)
        self.visible = visible
        # None: not registered; "pending" while the call runs; True once answered.
        self.app_state = None
        self.adv_state = None
        bus.add_signal_receiver(self.on_owner, "NameOwnerChanged", "org.freedesktop.DBus", arg0=BLUEZ)
        bus.add_signal_receiver(self.on_change, "InterfacesAdded", "org.freedesktop.DBus.ObjectManager", BLUEZ)
        bus.add_signal_receiver(self.on_removed, "InterfacesRemoved", "org.freedesktop.DBus.ObjectManager", BLUEZ)
        bus.add_signal_receiver(self.on_props, "PropertiesChanged", "org.freedesktop.DBus.Properties", BLUEZ,
                                path=self.adapter_path)
        GLib.io_add_watch(sys.stdin.fileno(), GLib.IO_IN | GLib.IO_HUP, self.on_command)
        GLib.idle_add(self.ensure)

    def on_owner(self, name, old, new):
        self.app_state = self.adv_state = None
        self.char.notifying = False
        say(f"bluez {'back' if new else 'gone'}")
        if new:
            self.ensure()

    def on_change(self, path, interfaces):
        if path == self.adapter_path:
            self.ensure()

    def on_removed(self, path, interfaces):
        if path == self.adapter_path and "org.bluez.Adapter1" in interfaces:
            self.app_state = self.adv_state = None
            self.char.notifying = False
            say("adapter gone")

    def on_props(self, interface, changed, invalidated):
        if interface == "org.bluez.Adapter1" and "Powered" in changed:
            if not changed["Powered"]:
                self.adv_state = None
                self.char.notifying = False
            self.ensure()

    def powered(self):
        try:
            props = dbus.Interface(self.bus.get_object(BLUEZ, self.adapter_path), "org.freedesktop.DBus.Properties")
            return bool(props.Get("org.bluez.Adapter1", "Powered", timeout=CALL_TIMEOUT))
        except dbus.DBusException:
            return False

    def ensure(self):
        """Registers what is missing. Both calls are asynchronous: bluetoothd reads the
        application's objects back while RegisterApplication is pending."""
        if self.app_state is not None and (self.adv_state is not None or not self.visible):
            return False
        if not self.powered():
            return False
        adapter = self.bus.get_object(BLUEZ, self.adapter_path)
        # The name the central reads from the GAP service once linked: a pistol answers with its own.
        dbus.Interface(adapter, "org.freedesktop.DBus.Properties").Set(
            "org.bluez.Adapter1", "Alias", self.adv.name, timeout=CALL_TIMEOUT)
        if self.app_state is None:
            self.app_state = "pending"
            dbus.Interface(adapter, "org.bluez.GattManager1").RegisterApplication(
                dbus.ObjectPath(APP_PATH), {}, timeout=CALL_TIMEOUT,
                reply_handler=lambda: self.registered("app"),
                error_handler=lambda e: self.failed("app", e))
        if self.visible and self.adv_state is None:
            self.advertise(adapter)
        return False

    def advertise(self, adapter):
        self.adv_state = "pending"
        dbus.Interface(adapter, "org.bluez.LEAdvertisingManager1").RegisterAdvertisement(
            dbus.ObjectPath(ADV_PATH), {}, timeout=CALL_TIMEOUT,
            reply_handler=lambda: self.registered("adv"),
            error_handler=lambda e: self.failed("adv", e))

    def registered(self, what):
        if what == "app":
            self.app_state = True
            say("application registered")
        else:
            self.adv_state = True
            say("advertising")

    def failed(self, what, error):
        say(f"{what} registration failed: {error.get_dbus_name()} {error.get_dbus_message()}")
        if what == "app":
            self.app_state = None
        else:
            self.adv_state = None
        # Retried on the next adapter or daemon event, or by the runner's next command.

    def hide(self):
        self.visible = False
        adapter = self.bus.get_object(BLUEZ, self.adapter_path)
        if self.adv_state is not None:
            self.adv_state = None
            dbus.Interface(adapter, "org.bluez.LEAdvertisingManager1").UnregisterAdvertisement(
                dbus.ObjectPath(ADV_PATH), timeout=CALL_TIMEOUT,
                reply_handler=lambda: say("advertising stopped"),
                error_handler=lambda e: say(f"unregister failed: {e.get_dbus_name()}"))
        manager = dbus.Interface(self.bus.get_object(BLUEZ, "/"), "org.freedesktop.DBus.ObjectManager")
        objects = manager.GetManagedObjects(timeout=CALL_TIMEOUT)
        for path, interfaces in objects.items():
            device = interfaces.get("org.bluez.Device1")
            if path.startswith(self.adapter_path + "/") and device and device.get("Connected"):
                say(f"dropping {device.get('Address')}")
                dbus.Interface(self.bus.get_object(BLUEZ, path), "org.bluez.Device1").Disconnect(
                    timeout=CALL_TIMEOUT,
                    reply_handler=lambda: say("dropped"),
                    error_handler=lambda e: say(f"drop failed: {e.get_dbus_name()}"))

    def on_command(self, fd, condition):
        line = sys.stdin.readline()
        if not line:
            loop.quit()
            return False
        command = line.strip()
        try:
            if command in PACKETS:
                self.char.send(command)
            elif command == "hide":
                self.hide()
            elif command == "show":
                self.visible = True
                self.ensure()
            elif command == "quit":
                loop.quit()
                return False
            elif command:
                say(f"unknown command {command}")
        except dbus.DBusException as e:
            say(f"{command} failed: {e.get_dbus_name()} {e.get_dbus_message()}")
        return True


if __name__ == "__main__":
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    loop = GLib.MainLoop()
    args = [a for a in sys.argv[1:] if a != "--hidden"]
    pistol = Pistol(dbus.SystemBus(), args[0] if args else "hci1", args[1] if len(args) > 1 else "Pistol",
                    "--hidden" not in sys.argv)
    say("ready")
    loop.run()
