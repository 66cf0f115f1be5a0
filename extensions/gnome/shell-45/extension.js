// The entry of GNOME Shell 45 and later, which load extensions as ES modules.
import Gio from 'gi://Gio';
import GLib from 'gi://GLib';
import Shell from 'gi://Shell';
import {Extension} from 'resource:///org/gnome/shell/extensions/extension.js';

import {FocusService} from './focus.js';

export default class FocusExtension extends Extension {
    enable() {
        this._service = new FocusService({Gio, GLib, Shell, display: global.display});
        this._service.enable();
    }

    disable() {
        this._service?.disable();
        this._service = null;
    }
}
