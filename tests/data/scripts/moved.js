// Moves the box of moved_js.wrl to x = 3 and turns it green.
function initialize() {
    where = new SFVec3f(3, 0, 0);
    colour = new SFColor(0, 1, 0);
}
