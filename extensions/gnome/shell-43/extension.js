// The entry of GNOME Shell 43 and 44, which load extensions the legacy way;
// the shared ES module is loaded with a dynamic import, which settles after
// enable() returns: a disable() before then stops it from starting.
/* exported init */
const {Gio, GLib, Shell} = imports.gi;
const ExtensionUtils = imports.misc.extensionUtils;

class FocusExtension {
    enable() {
        const enabling = {};
        this._enabling = enabling;
        const uri = ExtensionUtils.getCurrentExtension().dir.get_child('focus.js').get_uri();
        import(uri).then(({FocusService}) => {
            if (this._enabling !== enabling)
                return;
            this._service = new FocusService({Gio, GLib, Shell, display: global.display});
            this._service.enable();
        }).catch(logError);
    }

    disable() {
        this._enabling = null;
        if (this._service)
            this._service.disable();
        this._service = null;
    }
}

function init() {
    return new FocusExtension();
}
