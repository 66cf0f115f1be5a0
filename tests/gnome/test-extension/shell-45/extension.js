// Test only, never shipped: lets the GNOME tests drive the shell through
// org.gnome.Shell.Eval (activating windows, closing the overview). The entry
// of GNOME Shell 45 and later, which load extensions as ES modules.
import {Extension} from 'resource:///org/gnome/shell/extensions/extension.js';

export default class UnsafeModeExtension extends Extension {
    enable() {
        global.context.unsafe_mode = true;
    }

    disable() {
        global.context.unsafe_mode = false;
    }
}
