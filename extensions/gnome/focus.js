// The focused window on the session bus: its title, its WM_CLASS (class and
// instance), the application ID that GNOME Shell's window tracker gives it (a
// desktop file ID) and its process, from a method and from a signal sent on
// every change of the focused window, of its title and of its class.
//
// This is the whole of the extension: each GNOME Shell version's entry file
// starts and stops a FocusService. It has no settings and no interface of its
// own, and it tells these facts to any process on the user's session bus.

export const busName = 'dev.palvern.Collector.Shell1';
export const objectPath = '/dev/palvern/Collector/Shell1';

const facts = `
    <arg type="u" name="window"/>
    <arg type="s" name="title"/>
    <arg type="s" name="wm_class"/>
    <arg type="s" name="wm_class_instance"/>
    <arg type="s" name="app_id"/>
    <arg type="i" name="pid"/>`;

const interfaceXml = `
<node>
  <interface name="dev.palvern.Collector.Shell1">
    <method name="GetFocus">${facts.replace(/\/>/g, ' direction="out"/>')}
    </method>
    <signal name="FocusChanged">${facts}
    </signal>
  </interface>
</node>`;

// The facts of `window` (null: no focused window), in the interface's order.
function describe(window, tracker) {
    if (!window)
        return [0, '', '', '', '', 0];
    const app = tracker.get_window_app(window);
    // A window the tracker knows no desktop file for has an app of its own
    // ("window:<n>"), which is no desktop file ID.
    let appId = app && !app.is_window_backed() ? app.get_id() || '' : '';
    if (appId.endsWith('.desktop'))
        appId = appId.slice(0, -'.desktop'.length);
    return [
        window.get_stable_sequence(),
        window.get_title() || '',
        window.get_wm_class() || '',
        window.get_wm_class_instance() || '',
        appId,
        Math.max(0, window.get_pid()),
    ];
}

export class FocusService {
    // `Gio`, `GLib` and `Shell` are the shell's bindings of those libraries;
    // `display` is global.display.
    constructor({Gio, GLib, Shell, display}) {
        this._Gio = Gio;
        this._GLib = GLib;
        this._tracker = Shell.WindowTracker.get_default();
        this._display = display;
        this._window = null;
        this._windowSignals = [];
        this._displaySignal = 0;
        this._exported = null;
        this._nameId = 0;
    }

    enable() {
        const Gio = this._Gio;
        this._exported = Gio.DBusExportedObject.wrapJSObject(interfaceXml, this);
        this._exported.export(Gio.DBus.session, objectPath);
        this._displaySignal = this._display.connect('notify::focus-window', () => this._follow());
        this._follow();
        // The name comes last: whoever sees it finds the object in place.
        this._nameId = Gio.bus_own_name_on_connection(Gio.DBus.session, busName,
            Gio.BusNameOwnerFlags.NONE, null, null);
    }

    disable() {
        if (this._nameId)
            this._Gio.bus_unown_name(this._nameId);
        this._nameId = 0;
        if (this._displaySignal)
            this._display.disconnect(this._displaySignal);
        this._displaySignal = 0;
        this._watch(null);
        if (this._exported)
            this._exported.unexport();
        this._exported = null;
    }

    GetFocus() {
        return describe(this._window, this._tracker);
    }

    _watch(window) {
        for (const id of this._windowSignals)
            this._window.disconnect(id);
        this._windowSignals = [];
        this._window = window;
        if (!window)
            return;
        for (const property of ['title', 'wm-class'])
            this._windowSignals.push(window.connect(`notify::${property}`, () => this._emit()));
        this._windowSignals.push(window.connect('unmanaged', () => this._watch(null)));
    }

    _follow() {
        const window = this._display.focus_window;
        if (window !== this._window)
            this._watch(window);
        this._emit();
    }

    _emit() {
        if (!this._exported)
            return;
        const variant = new this._GLib.Variant('(ussssi)', describe(this._window, this._tracker));
        this._exported.emit_signal('FocusChanged', variant);
    }
}
