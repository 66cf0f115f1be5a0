// Test only, never shipped: lets the GNOME tests drive the shell through
// org.gnome.Shell.Eval (activating windows, closing the overview).
/* exported init */
function init() {
    return {
        enable() {
            global.context.unsafe_mode = true;
        },
        disable() {
            global.context.unsafe_mode = false;
        },
    };
}
