#include "quelvin_script.h"

#include "quelvin_guard.h"
#include "quelvin_reader.h"
#include "quelvin_tolerant.h"

#include <Inventor/SbTime.h>
#include <Inventor/SoDB.h>
#include <Inventor/SoFullPath.h>
#include <Inventor/SoInput.h>
#include <Inventor/actions/SoSearchAction.h>
#include <Inventor/fields/SoFields.h>
#include <Inventor/lists/SoAuditorList.h>
#include <Inventor/lists/SoFieldList.h>
#include <Inventor/lists/SbStringList.h>
#include <Inventor/nodes/SoSeparator.h>
#include <Inventor/nodes/SoSwitch.h>
#include <Inventor/engines/SoNodeEngine.h>
#include <Inventor/engines/SoEngineOutput.h>
#include <Inventor/sensors/SoNodeSensor.h>
#include <Inventor/sensors/SoOneShotSensor.h>
#include <Inventor/VRMLnodes/SoVRMLAnchor.h>
#include <Inventor/VRMLnodes/SoVRMLColor.h>
#include <Inventor/VRMLnodes/SoVRMLCoordinate.h>
#include <Inventor/VRMLnodes/SoVRMLGeometry.h>
#include <Inventor/VRMLnodes/SoVRMLInline.h>
#include <Inventor/VRMLnodes/SoVRMLNormal.h>
#include <Inventor/VRMLnodes/SoVRMLParent.h>
#include <Inventor/VRMLnodes/SoVRMLScript.h>
#include <Inventor/VRMLnodes/SoVRMLShape.h>
#include <Inventor/VRMLnodes/SoVRMLSwitch.h>
#include <Inventor/VRMLnodes/SoVRMLTextureCoordinate.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJSEngine>
#include <QJSValue>
#include <QMap>
#include <QSet>
#include <QUrl>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

class Bridge;

namespace {

// Values one field may take from a script: far more than any model needs,
// few enough that a runaway array cannot exhaust memory.
const int maxValues = 4 * 1024 * 1024;
// Events one pass may handle; scripts that keep feeding each other within
// one timestamp are cut off here.
const int maxEventsPerPass = 100000;
const qint64 maxSourceBytes = 4 * 1024 * 1024;

// The ECMAScript side of the binding: value classes, MF arrays, nodes as
// proxies onto the host, the Browser object, and the helpers that turn
// values into flat arrays and back for the C++ side.
const char *const prelude = R"JS(
(function (host) {
var G = Function('return this')();
function idx(C, names) {
  names.forEach(function (n, i) {
    Object.defineProperty(C.prototype, i, { get: function () { return this[n]; }, set: function (v) { this[n] = +v; } });
  });
}
function num(v) { v = +v; return v === v ? v : 0; }
class SFVec2f {
  constructor(x, y) { this.x = +x || 0; this.y = +y || 0; }
  add(v) { return new SFVec2f(this.x + v.x, this.y + v.y); }
  subtract(v) { return new SFVec2f(this.x - v.x, this.y - v.y); }
  multiply(s) { return new SFVec2f(this.x * s, this.y * s); }
  divide(s) { return new SFVec2f(this.x / s, this.y / s); }
  dot(v) { return this.x * v.x + this.y * v.y; }
  length() { return Math.sqrt(this.dot(this)); }
  normalize() { var l = this.length(); return l ? this.divide(l) : new SFVec2f(0, 0); }
  negate() { return new SFVec2f(-this.x, -this.y); }
  toString() { return this.x + ' ' + this.y; }
}
class SFVec3f {
  constructor(x, y, z) { this.x = +x || 0; this.y = +y || 0; this.z = +z || 0; }
  add(v) { return new SFVec3f(this.x + v.x, this.y + v.y, this.z + v.z); }
  subtract(v) { return new SFVec3f(this.x - v.x, this.y - v.y, this.z - v.z); }
  multiply(s) { return new SFVec3f(this.x * s, this.y * s, this.z * s); }
  divide(s) { return new SFVec3f(this.x / s, this.y / s, this.z / s); }
  dot(v) { return this.x * v.x + this.y * v.y + this.z * v.z; }
  cross(v) { return new SFVec3f(this.y * v.z - this.z * v.y, this.z * v.x - this.x * v.z, this.x * v.y - this.y * v.x); }
  length() { return Math.sqrt(this.dot(this)); }
  normalize() { var l = this.length(); return l ? this.divide(l) : new SFVec3f(0, 0, 0); }
  negate() { return new SFVec3f(-this.x, -this.y, -this.z); }
  toString() { return this.x + ' ' + this.y + ' ' + this.z; }
}
class SFColor {
  constructor(r, g, b) { this.r = +r || 0; this.g = +g || 0; this.b = +b || 0; }
  getHSV() {
    var r = this.r, g = this.g, b = this.b, max = Math.max(r, g, b), d = max - Math.min(r, g, b), h = 0;
    if (d > 0) {
      h = max === r ? ((g - b) / d) % 6 : max === g ? (b - r) / d + 2 : (r - g) / d + 4;
      h *= 60;
      if (h < 0) h += 360;
    }
    return [h, max > 0 ? d / max : 0, max];
  }
  setHSV(h, s, v) {
    h = ((num(h) % 360) + 360) % 360 / 60;
    var i = Math.floor(h), f = h - i, p = v * (1 - s), q = v * (1 - s * f), t = v * (1 - s * (1 - f));
    var c = [[v, t, p], [q, v, p], [p, v, t], [p, q, v], [t, p, v], [v, p, q]][i % 6];
    this.r = c[0]; this.g = c[1]; this.b = c[2];
  }
  toString() { return this.r + ' ' + this.g + ' ' + this.b; }
}
function quat(r) {
  var l = Math.sqrt(r.x * r.x + r.y * r.y + r.z * r.z), s = Math.sin(r.angle / 2);
  return l ? [r.x / l * s, r.y / l * s, r.z / l * s, Math.cos(r.angle / 2)] : [0, 0, 0, 1];
}
function fromQuat(q) {
  var w = Math.max(-1, Math.min(1, q[3])), s = Math.sqrt(1 - w * w);
  return s < 1e-9 ? new SFRotation(0, 0, 1, 0) : new SFRotation(q[0] / s, q[1] / s, q[2] / s, 2 * Math.acos(w));
}
function qmul(a, b) {
  return [a[3] * b[0] + a[0] * b[3] + a[1] * b[2] - a[2] * b[1], a[3] * b[1] - a[0] * b[2] + a[1] * b[3] + a[2] * b[0],
          a[3] * b[2] + a[0] * b[1] - a[1] * b[0] + a[2] * b[3], a[3] * b[3] - a[0] * b[0] - a[1] * b[1] - a[2] * b[2]];
}
class SFRotation {
  constructor(a, b, c, d) {
    if (a instanceof SFVec3f && b instanceof SFVec3f) {
      var n = a.normalize(), m = b.normalize(), axis = n.cross(m), cos = Math.max(-1, Math.min(1, n.dot(m)));
      if (axis.length() < 1e-9)
        axis = cos > 0 ? new SFVec3f(0, 0, 1) : (Math.abs(n.x) < 0.9 ? new SFVec3f(1, 0, 0) : new SFVec3f(0, 1, 0)).cross(n);
      axis = axis.normalize();
      this.x = axis.x; this.y = axis.y; this.z = axis.z; this.angle = Math.acos(cos);
    } else if (a instanceof SFVec3f) {
      this.x = a.x; this.y = a.y; this.z = a.z; this.angle = num(b);
    } else {
      this.x = num(a); this.y = num(b); this.z = c === undefined ? 1 : num(c); this.angle = num(d);
    }
  }
  getAxis() { return new SFVec3f(this.x, this.y, this.z); }
  setAxis(v) { this.x = v.x; this.y = v.y; this.z = v.z; }
  inverse() { return new SFRotation(this.x, this.y, this.z, -this.angle); }
  multiply(r) { return fromQuat(qmul(quat(r), quat(this))); }
  multVec(v) {
    var q = quat(this), o = qmul(qmul(q, [v.x, v.y, v.z, 0]), [-q[0], -q[1], -q[2], q[3]]);
    return new SFVec3f(o[0], o[1], o[2]);
  }
  slerp(dest, t) {
    var a = quat(this), b = quat(dest), cos = a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3], k0 = 1 - t, k1 = t;
    if (cos < 0) { b = b.map(function (x) { return -x; }); cos = -cos; }
    if (cos < 0.9999) {
      var o = Math.acos(cos), s = Math.sin(o);
      k0 = Math.sin((1 - t) * o) / s; k1 = Math.sin(t * o) / s;
    }
    return fromQuat([0, 1, 2, 3].map(function (i) { return k0 * a[i] + k1 * b[i]; }));
  }
  toString() { return this.x + ' ' + this.y + ' ' + this.z + ' ' + this.angle; }
}
idx(SFVec2f, ['x', 'y']);
idx(SFVec3f, ['x', 'y', 'z']);
idx(SFColor, ['r', 'g', 'b']);
idx(SFRotation, ['x', 'y', 'z', 'angle']);
function mf(conv) {
  return class extends Array {
    constructor() { super(); for (var i = 0; i < arguments.length; i++) this.push(conv(arguments[i])); }
    static get [Symbol.species]() { return Array; }
    toString() { return '[' + this.join(', ') + ']'; }
  };
}
var same = function (v) { return v; };
var MFInt32 = mf(function (v) { return v | 0; }), MFFloat = mf(num), MFTime = mf(num), MFString = mf(String);
var MFVec2f = mf(same), MFVec3f = mf(same), MFColor = mf(same), MFRotation = mf(same), MFNode = mf(same);
class SFImage {
  constructor(x, y, comp, array) { this.x = x | 0; this.y = y | 0; this.comp = comp | 0; this.array = array || new MFInt32(); }
  toString() { return this.x + ' ' + this.y + ' ' + this.comp; }
}
var proxies = new Map();
var nodeHandler = {
  get: function (t, k) { return typeof k !== 'string' || k in t ? t[k] : host.get(t.__id, k); },
  set: function (t, k, v) { if (typeof k === 'string' && !(k in t)) host.set(t.__id, k, v); return true; }
};
function node(id) {
  if (id < 0) return null;
  var p = proxies.get(id);
  if (!p) {
    var t = Object.create(SFNode.prototype);
    Object.defineProperty(t, '__id', { value: id });
    p = new Proxy(t, nodeHandler);
    proxies.set(id, p);
  }
  return p;
}
// The id of a node handle, -1 for anything else. (instanceof does not
// see through a Proxy in Qt 5.15's engine.)
function idOf(v) { return v !== null && typeof v === 'object' && typeof v.__id === 'number' ? v.__id : -1; }
function nodes(ids) { var out = new MFNode(); for (var i = 0; i < ids.length; i++) out.push(node(ids[i])); return out; }
class SFNode {
  constructor(text) {
    var ids = host.create(String(text));
    if (!ids.length) throw new Error('no node in the string given to SFNode');
    return node(ids[0]);
  }
  getType() { return host.typeName(this.__id); }
  toString() { return host.typeName(this.__id); }
}
var shapes = { SFVec2f: ['x', 'y'], SFVec3f: ['x', 'y', 'z'], SFColor: ['r', 'g', 'b'], SFRotation: ['x', 'y', 'z', 'angle'] };
var ctors = { SFVec2f: SFVec2f, SFVec3f: SFVec3f, SFColor: SFColor, SFRotation: SFRotation };
var arrays = { MFInt32: MFInt32, MFFloat: MFFloat, MFTime: MFTime, MFString: MFString, MFVec2f: MFVec2f,
               MFVec3f: MFVec3f, MFColor: MFColor, MFRotation: MFRotation, MFNode: MFNode };
var single = {}; // each MF type's element type
Object.keys(arrays).forEach(function (k) { single[k] = 'S' + k.slice(1); });
function flatOne(t, v, out) {
  switch (t) {
  case 'SFBool': out.push(v ? 1 : 0); return;
  case 'SFInt32': out.push(Number(v) | 0); return;
  case 'SFFloat': case 'SFTime': out.push(num(v)); return;
  case 'SFString': out.push(v == null ? '' : String(v)); return;
  case 'SFNode': out.push(idOf(v)); return;
  case 'SFImage':
    var a = v && v.array ? v.array : [], n = a.length >>> 0;
    if (n > 16777216) throw new RangeError('image too large');
    out.push(v ? v.x | 0 : 0, v ? v.y | 0 : 0, v ? v.comp | 0 : 0);
    for (var i = 0; i < n; i++) out.push(a[i] | 0);
    return;
  }
  var s = shapes[t];
  if (!s) { out.push(v == null ? '' : String(v)); return; }
  for (var j = 0; j < s.length; j++) {
    var x = v == null ? 0 : v[s[j]];
    out.push(num(x === undefined ? v[j] : x));
  }
}
function flatten(t, v, limit) {
  var out = [];
  if (t.charAt(0) !== 'M') { flatOne(t, v, out); return out; }
  if (v == null) return out;
  if (typeof v !== 'object' || idOf(v) >= 0 || !('length' in v)) v = [v];
  var e = 'S' + t.slice(1), n = v.length >>> 0;
  if (n > limit) throw new RangeError(t + ' of ' + n + ' values');
  for (var i = 0; i < n; i++) flatOne(e, v[i], out);
  return out;
}
// The value of type t from n items of f from at, or all of f: numbers, an
// ArrayBuffer of them, or strings.
function make(t, f, at, n) {
  if (f instanceof ArrayBuffer) f = new Float64Array(f);
  if (at === undefined) { at = 0; n = f.length; }
  var e = t.charCodeAt(0) === 77 ? single[t] : t, s = shapes[e], end = at + n;
  if (t === 'SFImage') {
    var a = new MFInt32();
    for (var k = at + 3; k < end; k++) a.push(f[k]);
    return new SFImage(f[at], f[at + 1], f[at + 2], a);
  }
  if (e === t) return item(e, s, f, at);
  var out = new (arrays[t] || Array)();
  for (var i = at; i < end; i += s ? s.length : 1) out.push(item(e, s, f, i));
  return out;
}
function item(e, s, f, i) {
  if (s) return new ctors[e](f[i], f[i + 1], f[i + 2], f[i + 3]);
  if (e === 'SFNode') return node(f[i]);
  if (e === 'SFBool') return !!f[i];
  return f[i];
}
// The accessors of a declared list's eventOuts, made once for all the
// scripts that have it, on the prototype of their fields (see open()).
function accessors(declared) {
  var proto = Object.create(null), k = 0;
  declared.forEach(function (sp) {
    if (!sp[1])
      return;
    var at = k++;
    Object.defineProperty(proto, sp[0], {
      get: function () { var rec = this.__outs[at]; if (rec.mark === 0) rec.mark = 1; return rec.value; },
      set: function (v) { var rec = this.__outs[at]; rec.value = v; rec.mark = 2; }
    });
  });
  return proto;
}
// The numbers of a plain type's value written at o[n]: how many, or -1
// when v is no such value. Each component is read by its name, else by
// its index.
function one(v, o, n) {
  if (typeof v !== 'number' && typeof v !== 'boolean') return -1;
  o[n] = +v;
  return 1;
}
function two(v, o, n) {
  if (v === null || typeof v !== 'object') return -1;
  var x = v.x, y = v.y;
  o[n] = +(x === undefined ? v[0] : x); o[n + 1] = +(y === undefined ? v[1] : y);
  return 2;
}
function three(v, o, n) {
  if (v === null || typeof v !== 'object') return -1;
  var x = v.x, y = v.y, z = v.z;
  o[n] = +(x === undefined ? v[0] : x); o[n + 1] = +(y === undefined ? v[1] : y); o[n + 2] = +(z === undefined ? v[2] : z);
  return 3;
}
function colour(v, o, n) {
  if (v === null || typeof v !== 'object') return -1;
  var r = v.r, g = v.g, b = v.b;
  o[n] = +(r === undefined ? v[0] : r); o[n + 1] = +(g === undefined ? v[1] : g); o[n + 2] = +(b === undefined ? v[2] : b);
  return 3;
}
function four(v, o, n) {
  if (v === null || typeof v !== 'object') return -1;
  var a = v.angle;
  three(v, o, n);
  o[n + 3] = +(a === undefined ? v[3] : a);
  return 4;
}
var parts = { SFBool: one, SFInt32: one, SFFloat: one, SFTime: one, SFVec2f: two, SFVec3f: three,
              SFColor: colour, SFRotation: four };
// What the program calls for fn: fn, then what the call did to eventOuts,
// for each: its place in the declared list, whether it was assigned (not
// only read), and its value as a count of numbers and the numbers, written
// into st.buffer (which reaches the program as bytes, where an array would
// be converted value by value); a count of -1 leaves the value in
// st.slow. Returns how many numbers it wrote.
function bindOne(st, fn) {
  var outs = st.outs, out = st.numbers;
  return function (a, b) {
    fn(a, b);
    var n = 0;
    for (var i = 0; i < outs.length; i++) {
      var r = outs[i];
      if (r.mark === 0) continue;
      out[n] = r.at;
      out[n + 1] = r.mark === 2 ? 1 : 0;
      var k = r.put === null ? -1 : r.put(r.value, out, n + 3);
      out[n + 2] = k;
      if (k < 0) {
        (st.slow || (st.slow = []))[r.at] = r.value;
        k = 0;
      }
      n += 3 + k;
      r.mark = 0;
    }
    return n;
  };
}
// The functions of a script's table, each bound in place (null where it
// has none).
function bind(st, table) {
  for (var i = 0; i < table.length; i++)
    table[i] = typeof table[i] === 'function' ? bindOne(st, table[i]) : null;
  return table;
}
// A script's start, in one crossing: the values of its declared fields
// from f (see appendValue()), its top level run, its functions bound.
// Fields and eventOuts are the variables of its code. An eventOut read or
// assigned is marked, to be looked at after the call: each keeps its value
// and mark in a record of its own, in fields.__outs. Returns the script's
// state, with the bound functions in st.bound.
function open(factory, declared, f, strings) {
  f = new Float64Array(f);
  var fields = Object.create(declared.proto || (declared.proto = accessors(declared))), outs = [];
  for (var i = 0, at = 0, next = 0; i < declared.length; i++) {
    var sp = declared[i], n = f[at++] | 0, v;
    if (n < 0) {
      v = make(sp[2], strings, next, -1 - n);
      next += -1 - n;
    } else {
      v = make(sp[2], f, at, n);
      at += n;
    }
    if (sp[1])
      outs.push({ at: i, put: parts[sp[2]] || null, value: v, mark: 0 });
    else
      fields[sp[0]] = v;
  }
  fields.__outs = outs;
  var st = { outs: outs, slow: null, buffer: new ArrayBuffer(8 * (7 * declared.length + 1)), numbers: null };
  st.numbers = new Float64Array(st.buffer);
  st.bound = bind(st, factory(fields));
  return st;
}
function print() { host.print(Array.prototype.join.call(arguments, ' ')); }
var Browser = {
  getName: function () { return 'Quelvin'; },
  getVersion: function () { return host.version(); },
  getCurrentSpeed: function () { return 0; },
  getCurrentFrameRate: function () { return host.frameRate(); },
  getWorldURL: function () { return host.worldUrl(); },
  createVrmlFromString: function (text) { return nodes(host.create(String(text))); },
  createVrmlFromURL: function (urls, n, event) { host.createFromUrl(flatten('MFString', urls, 64), idOf(n), String(event)); },
  addRoute: function (a, af, b, bf) { host.route(true, idOf(a), String(af), idOf(b), String(bf)); },
  deleteRoute: function (a, af, b, bf) { host.route(false, idOf(a), String(af), idOf(b), String(bf)); },
  loadURL: function (urls) { host.loadUrl(flatten('MFString', urls, 64)); },
  replaceWorld: function (n) { host.replaceWorld(flatten('MFNode', n, 100000)); },
  setDescription: function (text) { host.status(String(text)); },
  print: print
};
var globals = { SFVec2f: SFVec2f, SFVec3f: SFVec3f, SFColor: SFColor, SFRotation: SFRotation, SFImage: SFImage, SFNode: SFNode,
                Browser: Browser, print: print, TRUE: true, FALSE: false };
Object.keys(arrays).forEach(function (k) { globals[k] = arrays[k]; });
Object.keys(globals).forEach(function (k) {
  Object.defineProperty(G, k, { value: globals[k], writable: false, configurable: false });
});
Object.freeze(Browser);
return { make: make, flatten: flatten, open: open };
})
)JS";

enum Kind { Bool, Int, Float, Time, Str, Vec2, Vec3, Color, Rotation, Image, Node, Text };

struct TypeInfo
{
    Kind kind;
    bool multi;
    QString name; // as the ECMAScript side knows it
};

TypeInfo typeOf(const SoField *field)
{
    static QHash<int, TypeInfo> cache;
    const SoType type = field->getTypeId();
    auto found = cache.constFind(type.getKey());
    if (found != cache.constEnd())
        return *found;
    const QString name = QString::fromLatin1(type.getName().getString());
    static const struct
    {
        const char *name;
        Kind kind;
        bool multi;
    } table[] = { { "SFBool", Bool, false },        { "SFInt32", Int, false },
                  { "MFInt32", Int, true },         { "SFFloat", Float, false },
                  { "MFFloat", Float, true },       { "SFTime", Time, false },
                  { "MFTime", Time, true },         { "SFString", Str, false },
                  { "MFString", Str, true },        { "SFVec2f", Vec2, false },
                  { "MFVec2f", Vec2, true },        { "SFVec3f", Vec3, false },
                  { "MFVec3f", Vec3, true },        { "SFColor", Color, false },
                  { "MFColor", Color, true },       { "SFRotation", Rotation, false },
                  { "MFRotation", Rotation, true }, { "SFImage", Image, false },
                  { "SFNode", Node, false },        { "MFNode", Node, true } };
    TypeInfo info{ Text, false, QStringLiteral("Text") };
    for (const auto &row : table)
        if (name == QLatin1String(row.name))
            info = TypeInfo{ row.kind, row.multi, name };
    cache.insert(type.getKey(), info);
    return info;
}

int componentsOf(Kind kind)
{
    switch (kind) {
    case Vec2:
        return 2;
    case Vec3:
    case Color:
        return 3;
    case Rotation:
        return 4;
    default:
        return 1;
    }
}

float finite(double v)
{
    return std::isfinite(v) && std::fabs(v) < 1e30 ? float(v) : 0.0f;
}

struct Script;

struct Event
{
    Script *script;
    int handler;
    QJSValue value;
    double time;
};

struct Script
{
    enum State { Pending, Fetching, Running, Failed, Stopped };
    SoVRMLScript *node = nullptr;
    SoNodeSensor *sensor = nullptr;
    State state = Pending;
    QString directory; // where the file that made it was read from
    QString file; // what an error names: the .js file, or the world
    QString fetched; // the source of a file fetched over the network
    QJSValue st;
    QJSValue buffer; // st.buffer
    QJSValue initialize, shutdown, eventsProcessed; // each bound to the script (see bind())
    bool hasEventsProcessed = false;
    struct Handler
    {
        const SoField *field;
        QJSValue function;
        QString name;
    };
    QVector<Handler> handlers; // eventIns and their functions; a script has few
    int handlerOf(const SoField *field) const
    {
        for (int i = 0; i < handlers.size(); i++)
            if (handlers[i].field == field)
                return i;
        return -1;
    }
    struct Output
    {
        SoField *field;
        SoField *scratch; // a value on its way out
        Kind kind;
        int components; // 0 unless a plain type's value may come as numbers
        quint64 sentAt; // the timestamp it was last sent at
    };
    QVector<Output> outputs; // by place in the declared list; null for fields
    ~Script()
    {
        for (const Output &out : outputs)
            delete out.scratch;
    }
    QSet<QString> reported;
    bool inBatch = false;

    QString name() const
    {
        const SbName def = node->getName();
        if (def.getLength() > 0)
            return QString::fromUtf8(def.getString());
        return file.endsWith(".js", Qt::CaseInsensitive) ? QFileInfo(file).fileName()
                                                         : QStringLiteral("Script");
    }
};

// Stops a call of a script that runs past its bound, from a thread of its
// own: QJSEngine checks the interrupt flag while it runs. Arming costs two
// atomic stores, since every event is a call; the thread looks at the
// clock every 20 ms while scripts run and sleeps when none has for a while.
class Watchdog
{
public:
    explicit Watchdog(QJSEngine *target) : engine(target)
    {
        std::thread([this]() { run(); }).detach();
    }
    void arm()
    {
        const qint64 now = clock();
        lastArmed = now;
        started = now;
        if (sleeping) {
            std::lock_guard<std::mutex> lock(mutex);
            sleeping = false;
            wake.notify_one();
        }
    }
    void disarm() { started = 0; }

private:
    static qint64 clock()
    {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    void run()
    {
        const qint64 bound = qint64(Scripts::callBoundMs) * 1000000;
        for (;;) {
            if (clock() - lastArmed > 1000000000LL) {
                std::unique_lock<std::mutex> lock(mutex);
                sleeping = true;
                if (started == 0)
                    wake.wait(lock, [this]() { return !sleeping; });
                sleeping = false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            qint64 since = started;
            if (since != 0 && clock() - since > bound && started.compare_exchange_strong(since, 0))
                engine->setInterrupted(true);
        }
    }
    QJSEngine *engine;
    std::mutex mutex;
    std::condition_variable wake;
    std::atomic<qint64> started{ 0 };
    std::atomic<qint64> lastArmed{ 0 };
    std::atomic<bool> sleeping{ false };
};

// What the Scripts of one source and one list of fields share, made when
// the first of them starts: compiling and describing the fields cost more
// than the rest of a start, and a PROTO holding a Script makes one copy
// per instance.
struct Shape
{
    QJSValue factory; // or the error that stops every script of this shape
    QJSValue declared; // each field's name, whether it is an eventOut, its type
    QVector<int> fields; // the declared fields, by index in the node's field data
    QStringList functions{ "initialize", "shutdown", "eventsProcessed" }; // then the eventIns
    QVector<int> eventIns; // by index in the node's field data, after the first three functions
};

// Everything the unit keeps; one per process, never destroyed, since
// Coin's nodes may call in until the very end.
struct State
{
    Scripts::Host host;
    bool eventsToo = true;
    QJSEngine *engine = nullptr;
    Bridge *bridge = nullptr;
    Watchdog *watchdog = nullptr;
    QJSValue make, flatten, open;
    QJSValue compile; // Function(args, body)
    QHash<QPair<QString, QByteArray>, Shape> shapes; // by source and signatureOf()
    QHash<SoVRMLScript *, Script *> scripts;
    QList<Script *> pending;
    QList<Script *> dead;
    bool pendingChanged = false;
    QSet<SoNode *> worldRoots;
    QString worldLocation;
    QString worldFileName; // what an error in a script of the world's own text names
    std::deque<Event> events;
    SoOneShotSensor *sensor = nullptr;
    bool processing = false;
    double now = 0.0;
    quint64 timestamp = 1; // counts the timestamps events were handled at
    QSet<SoNode *> touched;
    QHash<SoNode *, QList<SoNode *>> users;
    bool usersKnown = false;
    QSet<QString> guardReported;
    Script *current = nullptr;
    // createVrmlFromURL over the network: an inline that is never shown
    // fetches the file; its children go to the field named, of the node.
    struct Delivery
    {
        SoNode *node;
        QString field;
    };
    QHash<SoNode *, Delivery> deliveries;
    QJSValueList arguments;
    std::vector<SoNode *> nodes;
    QHash<SoNode *, int> nodeIds;
    int running = 0;
    QMap<QString, int> failures;
    double lastPass = 0.0, frameRate = 0.0;
    qint64 busyNs = 0;
};

State &state()
{
    static State *s = new State;
    return *s;
}

void log(const QString &line)
{
    if (state().host.log)
        state().host.log(line);
}

// Once per script and function: a script that fails on every frame says so
// once, not sixty times a second.
void report(Script *script, const QString &function, const QString &message)
{
    if (script->reported.contains(function))
        return;
    script->reported.insert(function);
    log(QStringLiteral("script %1: %2").arg(script->name(), message));
}

QString errorText(const QJSValue &error, const Script *script)
{
    // The Function constructor puts one line before the body.
    const int line = error.property("lineNumber").toInt()
        - (error.property("fileName").toString().isEmpty() ? 1 : 0);
    return QStringLiteral("%1 (%2:%3)").arg(error.toString(), script->file).arg(line);
}

int nodeId(SoNode *node)
{
    State &s = state();
    if (!node)
        return -1;
    auto found = s.nodeIds.constFind(node);
    if (found != s.nodeIds.constEnd())
        return *found;
    // Held for the rest of the run, like every scene read: a script may
    // keep the handle in a variable and use it much later.
    node->ref();
    s.nodes.push_back(node);
    s.nodeIds.insert(node, int(s.nodes.size() - 1));
    return int(s.nodes.size() - 1);
}

SoNode *nodeOf(int id)
{
    State &s = state();
    return id >= 0 && size_t(id) < s.nodes.size() ? s.nodes[size_t(id)] : nullptr;
}

// Appends a field's value to what crosses into the engine: its numbers
// after their count to numbers, or, for text, -1 - the count of its
// strings to numbers and the strings to strings.
void appendValue(const SoField *field, const TypeInfo &type, std::vector<double> *numbers,
                 QStringList *strings)
{
    const int n = type.multi ? static_cast<const SoMField *>(field)->getNum() : 1;
    const size_t countAt = numbers->size();
    numbers->push_back(0.0);
    auto put = [&](double v) { numbers->push_back(v); };
    switch (type.kind) {
    case Bool:
        put(double(static_cast<const SoSFBool *>(field)->getValue()));
        break;
    case Int:
        for (int i = 0; i < n; i++)
            put(type.multi ? (*static_cast<const SoMFInt32 *>(field))[i]
                           : static_cast<const SoSFInt32 *>(field)->getValue());
        break;
    case Float:
        for (int i = 0; i < n; i++)
            put(type.multi ? (*static_cast<const SoMFFloat *>(field))[i]
                           : static_cast<const SoSFFloat *>(field)->getValue());
        break;
    case Time:
        for (int i = 0; i < n; i++)
            put(type.multi ? (*static_cast<const SoMFTime *>(field))[i].getValue()
                           : static_cast<const SoSFTime *>(field)->getValue().getValue());
        break;
    case Str:
    case Text: {
        const int before = strings->size();
        if (type.kind == Text) {
            SbString text;
            const_cast<SoField *>(field)->get(text);
            *strings << QString::fromUtf8(text.getString());
        } else if (type.multi) {
            for (int i = 0; i < n; i++)
                *strings << QString::fromUtf8(
                    (*static_cast<const SoMFString *>(field))[i].getString());
        } else {
            *strings << QString::fromUtf8(
                static_cast<const SoSFString *>(field)->getValue().getString());
        }
        (*numbers)[countAt] = -1.0 - (strings->size() - before);
        return;
    }
    case Vec2:
        for (int i = 0; i < n; i++) {
            const SbVec2f x = type.multi ? (*static_cast<const SoMFVec2f *>(field))[i]
                                         : static_cast<const SoSFVec2f *>(field)->getValue();
            put(x[0]);
            put(x[1]);
        }
        break;
    case Vec3:
    case Color:
        for (int i = 0; i < n; i++) {
            const SbVec3f x = type.kind == Color
                ? (type.multi ? (*static_cast<const SoMFColor *>(field))[i]
                              : static_cast<const SoSFColor *>(field)->getValue())
                : (type.multi ? (*static_cast<const SoMFVec3f *>(field))[i]
                              : static_cast<const SoSFVec3f *>(field)->getValue());
            put(x[0]);
            put(x[1]);
            put(x[2]);
        }
        break;
    case Rotation:
        for (int i = 0; i < n; i++) {
            const SbRotation r = type.multi ? (*static_cast<const SoMFRotation *>(field))[i]
                                            : static_cast<const SoSFRotation *>(field)->getValue();
            SbVec3f axis;
            float angle;
            r.getValue(axis, angle);
            put(axis[0]);
            put(axis[1]);
            put(axis[2]);
            put(angle);
        }
        break;
    case Image: {
        const SoSFImage *image = static_cast<const SoSFImage *>(field);
        SbVec2s size;
        int comps = 0;
        const unsigned char *bytes = image->getValue(size, comps);
        put(size[0]);
        put(size[1]);
        put(comps);
        for (int i = 0; bytes && i < size[0] * size[1]; i++) {
            unsigned int p = 0;
            for (int c = 0; c < comps; c++)
                p = (p << 8) | bytes[i * comps + c];
            put(p);
        }
        break;
    }
    case Node:
        for (int i = 0; i < n; i++)
            put(nodeId(type.multi ? (*static_cast<const SoMFNode *>(field))[i]
                                  : static_cast<const SoSFNode *>(field)->getValue()));
        break;
    }
    (*numbers)[countAt] = double(numbers->size() - countAt - 1);
}

// Numbers cross into the engine as the bytes of one array buffer: a JS
// array would be converted value by value.
QJSValue bufferOf(const std::vector<double> &numbers)
{
    return state().engine->toScriptValue(QByteArray(reinterpret_cast<const char *>(numbers.data()),
                                                    int(numbers.size() * sizeof(double))));
}

QJSValue toJs(const SoField *field)
{
    State &s = state();
    const TypeInfo type = typeOf(field);
    // Plain values need no trip through the prelude.
    if (!type.multi) {
        switch (type.kind) {
        case Bool:
            return QJSValue(bool(static_cast<const SoSFBool *>(field)->getValue()));
        case Int:
            return QJSValue(double(static_cast<const SoSFInt32 *>(field)->getValue()));
        case Float:
            return QJSValue(double(static_cast<const SoSFFloat *>(field)->getValue()));
        case Time:
            return QJSValue(static_cast<const SoSFTime *>(field)->getValue().getValue());
        case Str:
            return QJSValue(
                QString::fromUtf8(static_cast<const SoSFString *>(field)->getValue().getString()));
        default:
            break;
        }
    }
    std::vector<double> numbers;
    QStringList strings;
    appendValue(field, type, &numbers, &strings);
    if (numbers[0] < 0)
        return s.make.call({ type.name, s.engine->toScriptValue(strings) });
    numbers.erase(numbers.begin());
    return s.make.call({ type.name, bufferOf(numbers) });
}

// Fills field from a script's value, through the same limits as a file:
// no more than maxValues values, finite numbers, images no larger than a
// texture may be. The field is written with notification off; the caller
// decides whether it is sent.
// A single value of a plain type from its numbers (as many as the type
// has components), with notification off.
void setNumbers(SoField *field, Kind kind, const double *n)
{
    float v[4];
    for (int i = 0; i < componentsOf(kind); i++)
        v[i] = finite(n[i]);
    const SbBool notifying = field->enableNotify(FALSE);
    switch (kind) {
    case Bool:
        static_cast<SoSFBool *>(field)->setValue(n[0] != 0.0 && !std::isnan(n[0]));
        break;
    case Int:
        static_cast<SoSFInt32 *>(field)->setValue(
            std::isfinite(n[0]) && std::fabs(n[0]) < 2147483648.0 ? int32_t(n[0]) : 0);
        break;
    case Float:
        static_cast<SoSFFloat *>(field)->setValue(v[0]);
        break;
    case Time:
        static_cast<SoSFTime *>(field)->setValue(SbTime(std::isfinite(n[0]) ? n[0] : 0.0));
        break;
    case Vec2:
        static_cast<SoSFVec2f *>(field)->setValue(v[0], v[1]);
        break;
    case Vec3:
        static_cast<SoSFVec3f *>(field)->setValue(v[0], v[1], v[2]);
        break;
    case Color:
        // Colours outside 0..1 mean nothing to OpenGL; clamped as a file's are drawn.
        static_cast<SoSFColor *>(field)->setValue(std::min(1.0f, std::max(0.0f, v[0])),
                                                  std::min(1.0f, std::max(0.0f, v[1])),
                                                  std::min(1.0f, std::max(0.0f, v[2])));
        break;
    default: {
        SbVec3f axis(v[0], v[1], v[2]);
        if (axis.length() == 0.0f)
            axis.setValue(0.0f, 0.0f, 1.0f);
        static_cast<SoSFRotation *>(field)->setValue(SbRotation(axis, v[3]));
    }
    }
    field->enableNotify(notifying);
}

bool isPlain(const TypeInfo &type)
{
    return !type.multi && type.kind != Str && type.kind != Image && type.kind != Node
        && type.kind != Text;
}

bool fromJs(const QJSValue &value, SoField *field, QString *why)
{
    State &s = state();
    const TypeInfo type = typeOf(field);
    const int components = componentsOf(type.kind);
    if (isPlain(type) && (components == 1 || value.isObject())) {
        // A number, or a vector, colour or rotation object read where it
        // stands.
        static const QString names[4][4]
            = { { "x", "y" }, { "x", "y", "z" }, { "r", "g", "b" }, { "x", "y", "z", "angle" } };
        const QString *name = names[type.kind == Vec2        ? 0
                                        : type.kind == Vec3  ? 1
                                        : type.kind == Color ? 2
                                                             : 3];
        double v[4] = { type.kind == Bool ? double(value.toBool()) : value.toNumber() };
        for (int i = 0; components > 1 && i < components; i++) {
            QJSValue part = value.property(name[i]);
            if (part.isUndefined())
                part = value.property(quint32(i));
            v[i] = part.toNumber();
        }
        setNumbers(field, type.kind, v);
        return true;
    }
    const QJSValue flat = s.flatten.call({ type.name, value, maxValues });
    if (flat.isError()) {
        *why = flat.toString();
        return false;
    }
    const int length = flat.property("length").toInt();
    if (length > maxValues) {
        *why = QStringLiteral("%1 values are too many").arg(length);
        return false;
    }
    auto number = [&](int i) { return flat.property(quint32(i)).toNumber(); };
    const int c = components;
    const int n = type.multi ? length / c : 1;
    const SbBool notifying = field->enableNotify(FALSE);
    if (type.multi)
        static_cast<SoMField *>(field)->setNum(n);
    for (int i = 0; i < n; i++) {
        const int at = i * c;
        switch (type.kind) {
        case Bool:
            static_cast<SoSFBool *>(field)->setValue(number(0) != 0.0);
            break;
        case Int: {
            const double v = number(at);
            const int32_t x = std::isfinite(v) && std::fabs(v) < 2147483648.0 ? int32_t(v) : 0;
            type.multi ? static_cast<SoMFInt32 *>(field)->set1Value(i, x)
                       : static_cast<SoSFInt32 *>(field)->setValue(x);
            break;
        }
        case Float:
            type.multi ? static_cast<SoMFFloat *>(field)->set1Value(i, finite(number(at)))
                       : static_cast<SoSFFloat *>(field)->setValue(finite(number(at)));
            break;
        case Time: {
            const double v = std::isfinite(number(at)) ? number(at) : 0.0;
            type.multi ? static_cast<SoMFTime *>(field)->set1Value(i, SbTime(v))
                       : static_cast<SoSFTime *>(field)->setValue(SbTime(v));
            break;
        }
        case Str: {
            const SbString text(flat.property(quint32(at)).toString().toUtf8().constData());
            type.multi ? static_cast<SoMFString *>(field)->set1Value(i, text)
                       : static_cast<SoSFString *>(field)->setValue(text);
            break;
        }
        case Vec2: {
            const SbVec2f v(finite(number(at)), finite(number(at + 1)));
            type.multi ? static_cast<SoMFVec2f *>(field)->set1Value(i, v)
                       : static_cast<SoSFVec2f *>(field)->setValue(v);
            break;
        }
        case Vec3: {
            const SbVec3f v(finite(number(at)), finite(number(at + 1)), finite(number(at + 2)));
            type.multi ? static_cast<SoMFVec3f *>(field)->set1Value(i, v)
                       : static_cast<SoSFVec3f *>(field)->setValue(v);
            break;
        }
        case Color: {
            // Colours outside 0..1 mean nothing to OpenGL; clamped as a file's are drawn.
            auto unit = [](float v) { return std::min(1.0f, std::max(0.0f, v)); };
            const SbColor v(unit(finite(number(at))), unit(finite(number(at + 1))),
                            unit(finite(number(at + 2))));
            type.multi ? static_cast<SoMFColor *>(field)->set1Value(i, v)
                       : static_cast<SoSFColor *>(field)->setValue(v);
            break;
        }
        case Rotation: {
            SbVec3f axis(finite(number(at)), finite(number(at + 1)), finite(number(at + 2)));
            if (axis.length() == 0.0f)
                axis.setValue(0.0f, 0.0f, 1.0f);
            const SbRotation v(axis, finite(number(at + 3)));
            type.multi ? static_cast<SoMFRotation *>(field)->set1Value(i, v)
                       : static_cast<SoSFRotation *>(field)->setValue(v);
            break;
        }
        case Image: {
            const double w = number(0), h = number(1), comps = number(2);
            if (!(w >= 0 && h >= 0 && comps >= 0 && comps <= 4 && w * h <= double(maxTexturePixels)
                  && w <= 32767 && h <= 32767 && length - 3 == int(w * h))) {
                field->enableNotify(notifying);
                *why = QStringLiteral("an image whose size does not match its pixels");
                return false;
            }
            const int pixels = int(w * h), cc = int(comps);
            std::vector<unsigned char> bytes(size_t(pixels * cc));
            for (int p = 0; p < pixels; p++) {
                const unsigned int v = unsigned(int64_t(number(3 + p)));
                for (int k = 0; k < cc; k++)
                    bytes[size_t(p * cc + k)] = (v >> (8 * (cc - 1 - k))) & 0xff;
            }
            static_cast<SoSFImage *>(field)->setValue(SbVec2s(short(w), short(h)), cc,
                                                      bytes.empty() ? nullptr : bytes.data());
            break;
        }
        case Node: {
            SoNode *node = nodeOf(flat.property(quint32(at)).toInt());
            type.multi ? static_cast<SoMFNode *>(field)->set1Value(i, node)
                       : static_cast<SoSFNode *>(field)->setValue(node);
            break;
        }
        case Text:
            field->set(flat.property(0).toString().toUtf8().constData());
            break;
        }
    }
    if (type.multi && type.kind == Node) {
        // Nulls have no place in a list of children.
        SoMFNode *list = static_cast<SoMFNode *>(field);
        for (int i = list->getNum() - 1; i >= 0; i--)
            if (!(*list)[i])
                list->deleteValues(i, 1);
    }
    field->enableNotify(notifying);
    return true;
}

// Every node of type found below the world shown, in scene order, with
// the parts of inlines and PROTO instances. (Coin 4.0.0 cannot be asked
// for a node's parents: SoBase::getAuditors() writes through a null list
// the first time it is asked about a node.)
QList<SoNode *> findInWorld(SoType type)
{
    QList<SoNode *> found;
    for (SoNode *root : state().worldRoots) {
        SoSearchAction search;
        search.setType(type, TRUE);
        search.setInterest(SoSearchAction::ALL);
        search.setSearchingAll(TRUE);
        search.apply(root);
        const SoPathList &paths = search.getPaths();
        for (int i = 0; i < paths.getLength(); i++)
            found << static_cast<SoFullPath *>(paths[i])->getTail();
    }
    return found;
}

// --- Geometry a script reaches ---------------------------------------------

bool isGeometryData(SoNode *node)
{
    return node->isOfType(SoVRMLCoordinate::getClassTypeId())
        || node->isOfType(SoVRMLColor::getClassTypeId())
        || node->isOfType(SoVRMLNormal::getClassTypeId())
        || node->isOfType(SoVRMLTextureCoordinate::getClassTypeId());
}

// A value a script sent arrived in field of node: if it can change what
// geometry indexes, or which node sits where, the node is checked again
// before the next frame.
void noteArrival(SoNode *node, SoField *field)
{
    const bool nodes = field->isOfType(SoSFNode::getClassTypeId())
        || field->isOfType(SoMFNode::getClassTypeId());
    if (nodes) {
        // New nodes may bring Scripts, or take geometry elsewhere.
        state().pendingChanged = true;
        state().usersKnown = false;
    }
    static QHash<int, bool> checked; // by node type: whether it is checked again
    const int key = node->getTypeId().getKey();
    auto found = checked.constFind(key);
    if (found == checked.constEnd())
        found = checked.insert(key,
                               isGeometryData(node)
                                   || node->isOfType(SoVRMLGeometry::getClassTypeId())
                                   || node->isOfType(SoVRMLSwitch::getClassTypeId())
                                   || node->isOfType(SoSwitch::getClassTypeId()));
    if (nodes || *found)
        state().touched.insert(node);
}

// Coin 4.0.0 passes on the value an eventOut holds whenever the field
// is evaluated, sent or not: a Script's first, empty MFVec3f emptied the
// coordinates it was routed to as soon as the scene was saved, and the
// next frame indexed past them. Routes from a Script carry nothing until
// the script sends.
void holdOutputs(SoVRMLScript *node)
{
    const SoFieldData *data = static_cast<SoFieldContainer *>(node)->getFieldData();
    for (int i = 0; data && i < data->getNumFields(); i++) {
        SoField *field = data->getField(node, i);
        if (field->getFieldType() != SoField::EVENTOUT_FIELD)
            continue;
        SoFieldList slaves;
        field->getForwardConnections(slaves);
        for (int k = 0; k < slaves.getLength(); k++)
            slaves[k]->enableConnection(FALSE);
    }
}

// Coin adds and removes the children sent to a group from a sensor of its
// own, after the frame that should show them: done at once here (Coin's
// sensor then finds nothing left to do).
void applyChildren(SoNode *node, SoField *field, const SoMFNode &list)
{
    SbName name;
    if (!node->isOfType(SoVRMLParent::getClassTypeId())
        || !field->isOfType(SoMFNode::getClassTypeId()) || !node->getFieldName(field, name))
        return;
    SoVRMLParent *group = static_cast<SoVRMLParent *>(node);
    for (int k = 0; k < list.getNum(); k++) {
        const int at = list[k] ? group->findChild(list[k]) : -1;
        if (name == "addChildren" && list[k] && at < 0)
            group->addChild(list[k]);
        else if (name == "removeChildren" && at >= 0)
            group->removeChild(at);
    }
}

// The eventOut out sends value: its routes carry it from now on, and what
// it reaches is noted for the guard. When every route ends in a node's
// field of its own type, the value is handed to each and only they are
// notified: setting out itself would first notify the Script and
// everything above it, once per event, for nothing. Other routes (a
// PROTO's or a converter engine's) take it from out as Coin's routes do.
void send(SoField *out, const SoField &value)
{
    SoFieldList slaves;
    out->getForwardConnections(slaves);
    bool direct = true;
    for (int i = 0; i < slaves.getLength(); i++) {
        SoField *slave = slaves[i];
        slave->enableConnection(TRUE);
        SoFieldContainer *container = slave->getContainer();
        if (!container || !container->isOfType(SoNode::getClassTypeId())) {
            direct = false;
            continue;
        }
        direct = direct && slave->getTypeId() == out->getTypeId();
        SoNode *node = static_cast<SoNode *>(container);
        noteArrival(node, slave);
        if (out->isOfType(SoMFNode::getClassTypeId()))
            applyChildren(node, slave, static_cast<const SoMFNode &>(value));
    }
    // out holds the value either way: a route enabled again takes its
    // value from out the next time it is read (Coin marks it dirty).
    const SbBool notifying = out->enableNotify(FALSE);
    out->copyFrom(value);
    out->enableNotify(notifying);
    if (!direct) {
        out->touch();
        return;
    }
    for (int i = 0; i < slaves.getLength(); i++)
        slaves[i]->copyFrom(value); // notifies, as a touch would
}

// The same walk as a file's: indices within their arrays, nodes of the
// right type in each field, no cycles. Data nodes are checked through the
// geometry that uses them.
void guardTouched()
{
    State &s = state();
    if (s.touched.isEmpty())
        return;
    QSet<SoNode *> roots;
    for (SoNode *node : s.touched) {
        if (!isGeometryData(node)) {
            roots.insert(node);
            continue;
        }
        if (!s.usersKnown) {
            // Which geometry uses which data node, found once per world.
            s.users.clear();
            for (SoNode *geometry : findInWorld(SoVRMLGeometry::getClassTypeId()))
                for (const char *name : { "coord", "color", "normal", "texCoord" })
                    if (SoField *field = geometry->getField(name))
                        if (field->isOfType(SoSFNode::getClassTypeId())
                            && static_cast<SoSFNode *>(field)->getValue())
                            s.users[static_cast<SoSFNode *>(field)->getValue()] << geometry;
            s.usersKnown = true;
        }
        for (SoNode *geometry : s.users.value(node))
            roots.insert(geometry);
    }
    s.touched.clear();
    ReadAccount account;
    for (SoNode *root : roots)
        guardScene(root, &account);
    if (!account.isEmpty()) {
        const QString text = account.text();
        if (!s.guardReported.contains(text)) {
            s.guardReported.insert(text);
            log(QStringLiteral("script values %1").arg(text));
        }
    }
}

// --- Calls -----------------------------------------------------------------

void retire(Script *script)
{
    if (script->state == Script::Running)
        state().running--;
    script->state = Script::Stopped;
}

// Runs fn under the time bound. False when the call failed; a script
// stopped for its time is stopped for good.
bool call(Script *script, const QString &function, QJSValue fn, const QJSValueList &args,
          QJSValue *result)
{
    State &s = state();
    Script *outer = s.current;
    s.current = script;
    s.watchdog->arm();
    QJSValue value = fn.call(args);
    s.watchdog->disarm();
    s.current = outer;
    if (s.engine->isInterrupted()) {
        s.engine->setInterrupted(false);
        retire(script);
        log(QStringLiteral("script %1: %2() ran longer than %3 ms and was stopped")
                .arg(script->name(), function)
                .arg(Scripts::callBoundMs));
        return false;
    }
    if (value.isError()) {
        report(script, function,
               QStringLiteral("%1 in %2()").arg(errorText(value, script), function));
        return false;
    }
    if (result)
        *result = std::move(value);
    return true;
}

// The eventOuts a call changed go out through their routes, with the
// timestamp of the event being handled; one value per eventOut and
// timestamp, which breaks loops of scripts feeding each other.
void sendOutputs(Script *script, const QJSValue &changes)
{
    State &s = state();
    const int size = changes.isNumber() ? changes.toInt() : 0;
    if (size <= 0)
        return;
    // One crossing for all of it: what bindOne() took apart.
    const QByteArray bytes = script->buffer.toVariant().toByteArray();
    const int length = std::min(size, int(bytes.size() / sizeof(double)));
    std::vector<double> list(size_t(std::max(0, length)));
    std::memcpy(list.data(), bytes.constData(), list.size() * sizeof(double));
    for (int i = 0; i + 2 < length;) {
        const int at = int(list[size_t(i)]), count = int(list[size_t(i + 2)]);
        const bool assigned = list[size_t(i + 1)] != 0.0;
        double numbers[4] = {};
        i += 3;
        for (int k = 0; k < count && k < 4 && i + k < length; k++)
            numbers[k] = list[size_t(i + k)];
        i += std::max(0, count);
        if (at < 0 || at >= script->outputs.size() || !script->outputs[at].field
            || script->outputs[at].sentAt == s.timestamp)
            continue;
        Script::Output &output = script->outputs[at];
        SoField *field = output.field, *value = output.scratch;
        QString why;
        bool taken = true;
        if (count > 0 && count == output.components)
            setNumbers(value, output.kind, numbers);
        else
            taken = fromJs(script->st.property("slow").property(quint32(at)), value, &why);
        if (!taken) {
            SbName named;
            script->node->getFieldName(field, named);
            const QString name = QString::fromUtf8(named.getString());
            report(script, "eventOut " + name, QStringLiteral("%1 not sent: %2").arg(name, why));
        } else if (assigned || !value->isSame(*field)) {
            output.sentAt = s.timestamp;
            send(field, *value);
        }
    }
}

// Calls one function of a running script with up to two arguments, and
// sends what it changed.
// fn is one of the script's functions (see prepare()), or undefined.
void run(Script *script, const QString &function, const QJSValue &fn, QJSValue a = QJSValue(),
         QJSValue b = QJSValue())
{
    if (script->state != Script::Running || fn.isUndefined())
        return;
    // One list for every call: the engine has taken the arguments before a
    // call inside this one could change them.
    State &s = state();
    if (s.arguments.size() != 2)
        s.arguments = { QJSValue(), QJSValue() };
    s.arguments[0] = std::move(a);
    s.arguments[1] = std::move(b);
    QJSValue changes;
    if (call(script, function, fn, s.arguments, &changes) && script->state == Script::Running)
        sendOutputs(script, changes);
}

// --- Starting ----------------------------------------------------------------

void makeEngine();

QString sourceOf(Script *script, QString *reason)
{
    State &s = state();
    if (!script->fetched.isNull())
        return script->fetched;
    const SoMFString &urls = script->node->url;
    bool anyFile = false;
    for (int i = 0; i < urls.getNum(); i++) {
        const QString url = QString::fromUtf8(urls[i].getString()).trimmed();
        for (const char *scheme : { "javascript:", "vrmlscript:", "ecmascript:" })
            if (url.startsWith(QLatin1String(scheme), Qt::CaseInsensitive)) {
                script->file = s.worldFileName;
                return url.mid(int(strlen(scheme)));
            }
        const QUrl parsed(url);
        if (!parsed.path().endsWith(".js", Qt::CaseInsensitive))
            continue;
        anyFile = true;
        const bool remote = parsed.scheme().startsWith("http")
            || (parsed.isRelative() && !url.startsWith('/') && s.worldLocation.startsWith("http"));
        if (remote && s.host.fetch) {
            // Over the network through the resource loader and its cache:
            // the script starts when the file is there.
            script->file = url;
            script->state = Script::Fetching;
            s.host.fetch(url, script->node);
            *reason = QStringLiteral("fetching");
            return QString();
        }
        QString path;
        if (parsed.scheme() == "file")
            path = parsed.toLocalFile();
        else if (parsed.isRelative() || url.startsWith('/'))
            path = QDir::isAbsolutePath(url)
                ? url
                : QDir(script->directory).filePath(parsed.path(QUrl::FullyDecoded));
        QFile file(QDir::cleanPath(path));
        if (path.isEmpty() || !SceneReader::isReadableFile(file.fileName())
            || file.size() > maxSourceBytes || !file.open(QIODevice::ReadOnly))
            continue;
        script->file = file.fileName();
        return QString::fromUtf8(file.readAll());
    }
    *reason = anyFile ? QStringLiteral("load failure") : QStringLiteral("no supported url");
    return QString();
}

bool isIdentifier(const QString &name)
{
    if (name.isEmpty() || name[0].isDigit())
        return false;
    for (QChar c : name)
        if (!(c.isLetterOrNumber() || c == '_' || c == '$'))
            return false;
    return true;
}

// The source with every use of an eventOut's name written as
// __fields.name, so that the rest of a script's names are plain variables
// that V4 resolves when it compiles them (code inside `with` looks up
// every name, global ones too, on each use). Null where the text declares
// such a name itself or uses what this scan does not follow (template
// strings, arrow functions); the caller then falls back on `with`, as it
// does when the result does not compile.
QString routeOutputs(const QString &source, const QSet<QString> &outs)
{
    if (source.contains('`') || source.contains(QLatin1String("=>")))
        return QString();
    static const QSet<QString> declaring{ "var", "let", "const", "function", "class", "catch" };
    static const QSet<QString> beforeExpression{ "return", "typeof", "case",   "in",
                                                 "of",     "new",    "delete", "void",
                                                 "throw",  "else",   "do",     "instanceof" };
    QString out;
    out.reserve(source.size() + 64);
    QString lastWord; // the last identifier or keyword, if it was the last token
    QString wordBefore; // and the one before it, if that was a word too
    QChar last; // the last significant character outside words
    bool inParameters = false;
    const int n = source.size();
    auto nextSignificant = [&](int from) {
        while (from < n && source[from].isSpace())
            from++;
        return from < n ? source[from] : QChar();
    };
    for (int i = 0; i < n;) {
        const QChar c = source[i];
        if (c.isSpace()) {
            out += c;
            i++;
            continue;
        }
        if (c == '/' && i + 1 < n && (source[i + 1] == '/' || source[i + 1] == '*')) {
            const bool line = source[i + 1] == '/';
            const int end
                = line ? source.indexOf('\n', i) : source.indexOf(QLatin1String("*/"), i + 2);
            const int stop = end < 0 ? n : (line ? end : end + 2);
            out += source.midRef(i, stop - i);
            i = stop;
            continue;
        }
        const bool afterValue = (!lastWord.isEmpty() && !beforeExpression.contains(lastWord))
            || last == ')' || last == ']' || last == '}';
        if (c == '"' || c == '\'' || (c == '/' && !afterValue)) {
            // A string or a regular expression, to its unescaped end.
            int j = i + 1;
            bool inClass = false;
            while (j < n && (source[j] != c || inClass) && source[j] != '\n') {
                if (source[j] == '\\')
                    j++;
                else if (c == '/' && source[j] == '[')
                    inClass = true;
                else if (c == '/' && source[j] == ']')
                    inClass = false;
                j++;
            }
            j = std::min(n, j + 1);
            out += source.midRef(i, j - i);
            i = j;
            lastWord.clear();
            wordBefore.clear();
            last = ')'; // a value
            continue;
        }
        if (c.isLetterOrNumber() || c == '_' || c == '$') {
            int j = i + 1;
            while (j < n && (source[j].isLetterOrNumber() || source[j] == '_' || source[j] == '$'))
                j++;
            const QString word = source.mid(i, j - i);
            if (outs.contains(word) && last != '.') {
                if (declaring.contains(lastWord) || inParameters)
                    return QString();
                // A key in an object literal stays as it is.
                const bool key = (last == '{' || last == ',') && nextSignificant(j) == ':';
                if (!key)
                    out += QLatin1String("__fields.");
            }
            out += word;
            wordBefore = lastWord;
            lastWord = word;
            last = QChar();
            i = j;
            continue;
        }
        // Parameters: function (...), function name (...), catch (...).
        if (c == '(' && (lastWord == "function" || lastWord == "catch" || wordBefore == "function"))
            inParameters = true;
        else if (c == ')')
            inParameters = false;
        out += c;
        last = c;
        lastWord.clear();
        wordBefore.clear();
        i++;
    }
    return out;
}

void fail(Script *script, const QString &reason)
{
    script->state = Script::Failed;
    state().failures[reason]++;
}

// The field data indices of a Script's own fields, with the key of the
// list: names are Coin's shared strings, so their addresses tell them apart.
QByteArray signatureOf(const SoVRMLScript *node, QVector<int> *indices)
{
    const SoFieldData *data = static_cast<const SoFieldContainer *>(node)->getFieldData();
    QByteArray key;
    key.reserve(int(3 * sizeof(quintptr)) * (data ? data->getNumFields() : 0));
    for (int i = 0; data && i < data->getNumFields(); i++) {
        const SoField *field = data->getField(node, i);
        if (field == &node->url || field == &node->directOutput || field == &node->mustEvaluate)
            continue;
        const quintptr part[3]
            = { quintptr(data->getFieldName(i).getString()), quintptr(field->getFieldType()),
                quintptr(field->getTypeId().getKey()) };
        key.append(reinterpret_cast<const char *>(part), sizeof part);
        indices->append(i);
    }
    return key;
}

// Compiles a source for the fields listed. Fields become variables of the
// script's own; eventOuts stay behind accessors, which note what a call
// sends. All on the first line, so that an error's line is the script's
// own.
Shape makeShape(const Script *script, const QString &source, const QVector<int> &indices)
{
    State &s = state();
    Shape shape;
    const SoFieldData *data = static_cast<const SoFieldContainer *>(script->node)->getFieldData();
    QVariantList declared;
    QSet<QString> outs;
    QStringList locals;
    for (int i : indices) {
        const SoField *field = data->getField(script->node, i);
        const QString name = QString::fromUtf8(data->getFieldName(i).getString());
        if (!isIdentifier(name))
            continue;
        const int kind = field->getFieldType();
        if (kind == SoField::EVENTIN_FIELD) {
            shape.functions << name;
            shape.eventIns << i;
            continue;
        }
        shape.fields << i;
        declared << QVariant(
            QVariantList{ name, kind == SoField::EVENTOUT_FIELD, typeOf(field).name });
        if (kind == SoField::EVENTOUT_FIELD)
            outs << name;
        else
            locals << name + "=__fields." + name;
    }
    shape.declared = s.engine->toScriptValue(declared);
    // typeof on a name the script never declares costs V4 a ReferenceError
    // made and dropped; a name its text never holds cannot be declared.
    QString ending = "\n;return[";
    for (const QString &name : shape.functions)
        ending += source.contains(name) ? "typeof " + name + "=='function'?" + name + ":null,"
                                        : QStringLiteral("null,");
    ending += "];})()";
    const QString routed = routeOutputs(source, outs);
    if (!routed.isNull()) {
        const QString body = (locals.isEmpty() ? QString() : "var " + locals.join(',') + ";")
            + "return(function(){" + routed + ending;
        if (!s.engine->evaluate("(function(__fields){" + body + "})").isError())
            shape.factory = s.compile.call({ QStringLiteral("__fields"), body });
    }
    if (shape.factory.isUndefined() || shape.factory.isError()) {
        const QString body = "with(__fields){return(function(){" + source + ending + "}";
        shape.factory = s.engine->evaluate("(function(__fields){" + body + "})", script->file, 1);
        if (!shape.factory.isError())
            shape.factory = s.compile.call({ QStringLiteral("__fields"), body });
    }
    return shape;
}

// Loads and compiles a script and runs its top level: true when it is
// ready for initialize().
bool prepare(Script *script)
{
    State &s = state();
    QString reason;
    const QString source = sourceOf(script, &reason);
    makeEngine();
    if (script->state == Script::Fetching)
        return false;
    if (!reason.isEmpty()) {
        fail(script, reason);
        return false;
    }
    QVector<int> indices;
    const QPair<QString, QByteArray> key(source, signatureOf(script->node, &indices));
    auto found = s.shapes.constFind(key);
    if (found == s.shapes.constEnd())
        found = s.shapes.insert(key, makeShape(script, source, indices));
    const Shape &shape = *found;
    if (shape.factory.isError()) {
        report(script, "", errorText(shape.factory, script));
        fail(script,
             shape.factory.property("name").toString() == "SyntaxError"
                 ? QStringLiteral("syntax error")
                 : QStringLiteral("error at start"));
        return false;
    }
    const SoFieldData *data = static_cast<const SoFieldContainer *>(script->node)->getFieldData();
    std::vector<double> numbers;
    QStringList strings;
    for (int i : shape.fields) {
        SoField *field = data->getField(script->node, i);
        const TypeInfo type = typeOf(field);
        appendValue(field, type, &numbers, &strings);
        const bool out = field->getFieldType() == SoField::EVENTOUT_FIELD;
        script->outputs << Script::Output{
            out ? field : nullptr,
            out ? static_cast<SoField *>(field->getTypeId().createInstance()) : nullptr, type.kind,
            isPlain(type) ? componentsOf(type.kind) : 0, 0
        };
    }
    const bool ran = call(script, "(main)", s.open,
                          { shape.factory, shape.declared, bufferOf(numbers),
                            strings.isEmpty() ? QJSValue() : s.engine->toScriptValue(strings) },
                          &script->st);
    if (!ran) {
        if (script->state != Script::Stopped)
            fail(script, QStringLiteral("error at start"));
        else
            s.failures[QStringLiteral("ran too long")]++;
        return false;
    }
    script->buffer = script->st.property("buffer");
    const QJSValue bound = script->st.property("bound");
    QJSValue *const own[] = { &script->initialize, &script->shutdown, &script->eventsProcessed };
    for (int i = 0; i < shape.functions.size(); i++) {
        const QJSValue fn = bound.property(quint32(i));
        if (fn.isNull())
            continue;
        if (i < 3)
            *own[i] = fn;
        else
            script->handlers << Script::Handler{
                data->getField(script->node, shape.eventIns[i - 3]), fn, shape.functions[i]
            };
    }
    script->hasEventsProcessed = script->eventsProcessed.isCallable();
    script->state = Script::Running;
    s.running++;
    return true;
}

void initializeAll(const QList<Script *> &ready)
{
    for (Script *script : ready) {
        if (script->state != Script::Running)
            continue;
        run(script, "initialize", script->initialize);
        if (script->state != Script::Running && script->node)
            state().failures[QStringLiteral("ran too long")]++;
    }
}

// Starts the Scripts that now hang below the world shown. A Script in the
// body of a PROTO definition hangs below nothing shown: only the copies
// in instances run.
void startPending()
{
    State &s = state();
    s.pendingChanged = false;
    if (s.worldRoots.isEmpty() || s.pending.isEmpty())
        return;
    // Every script is ready before the first initialize(), which may
    // send events to the others.
    QList<Script *> ready;
    for (SoNode *node : findInWorld(SoVRMLScript::getClassTypeId())) {
        Script *script = s.scripts.value(static_cast<SoVRMLScript *>(node));
        if (script && script->state == Script::Pending) {
            holdOutputs(script->node);
            if (prepare(script))
                ready << script;
        }
    }
    s.pending.erase(
        std::remove_if(s.pending.begin(), s.pending.end(),
                       [](const Script *script) { return script->state != Script::Pending; }),
        s.pending.end());
    initializeAll(ready);
}

void runEvents()
{
    State &s = state();
    QList<Script *> batch;
    int handled = 0;
    while (!s.events.empty()) {
        while (!s.events.empty()) {
            Event event = std::move(s.events.front());
            s.events.pop_front();
            if (event.script->state != Script::Running)
                continue;
            if (event.time != s.now) {
                s.now = event.time;
                s.timestamp++;
            }
            if (++handled > maxEventsPerPass) {
                log(QStringLiteral(
                        "scripts: more than %1 events at one time; the rest were dropped")
                        .arg(maxEventsPerPass));
                s.events.clear();
                break;
            }
            const Script::Handler &handler = event.script->handlers[event.handler];
            run(event.script, handler.name, handler.function, std::move(event.value), event.time);
            if (!event.script->inBatch) {
                event.script->inBatch = true;
                batch << event.script;
            }
        }
        for (Script *script : batch) {
            script->inBatch = false;
            if (script->hasEventsProcessed && script->state == Script::Running
                && s.scripts.contains(script->node)) {
                run(script, QStringLiteral("eventsProcessed"), script->eventsProcessed);
            }
        }
        batch.clear();
    }
}

void process()
{
    State &s = state();
    if (s.processing)
        return;
    s.processing = true;
    QElapsedTimer busy;
    busy.start();
    const double time = SbTime::getTimeOfDay().getValue();
    if (time - s.lastPass > 0.0 && s.lastPass > 0.0)
        s.frameRate = 0.9 * s.frameRate + 0.1 / (time - s.lastPass);
    s.lastPass = time;
    // Scripts in nodes that other scripts build and hang in the world start
    // in the same pass, so that what they make is there for the next frame
    // (a few rounds: a script that builds scripts without end waits).
    for (int round = 0; round < 8; round++) {
        if (s.pendingChanged) {
            s.now = time;
            s.timestamp++;
            startPending();
        }
        if (s.eventsToo)
            runEvents();
        else
            s.events.clear();
        if (!s.pendingChanged)
            break;
    }
    guardTouched();
    for (Script *script : s.dead) {
        delete script->sensor;
        delete script;
    }
    s.dead.clear();
    s.busyNs += busy.nsecsElapsed();
    s.processing = false;
}

void processLater()
{
    State &s = state();
    if (s.sensor && !s.sensor->isScheduled())
        s.sensor->schedule();
}

// An eventIn of a running script was set: its value is taken now, as a
// route delivered it, and its function runs in the next pass.
void arrived(void *data, SoSensor *sensor)
{
    Script *script = static_cast<Script *>(data);
    if (script->state != Script::Running)
        return;
    SoField *field = static_cast<SoNodeSensor *>(sensor)->getTriggerField();
    const int handler
        = field && field->getFieldType() == SoField::EVENTIN_FIELD ? script->handlerOf(field) : -1;
    if (handler < 0)
        return;
    State &s = state();
    const double time = s.processing ? s.now : SbTime::getTimeOfDay().getValue();
    QElapsedTimer busy;
    busy.start();
    s.events.push_back(Event{ script, handler, toJs(field), time });
    s.busyNs += busy.nsecsElapsed();
    processLater();
}

void died(void *data, SoSensor *)
{
    State &s = state();
    Script *script = static_cast<Script *>(data);
    s.scripts.remove(script->node);
    s.pending.removeOne(script);
    for (auto it = s.events.begin(); it != s.events.end();)
        it = it->script == script ? s.events.erase(it) : it + 1;
    retire(script);
    // The sensor is inside its own callback; both go in the next pass.
    script->node = nullptr;
    s.dead << script;
    processLater();
}

// Every SoVRMLScript Coin makes comes through here: read from a file,
// copied into a PROTO instance, or built by a script.
void *createScript()
{
    State &s = state();
    auto *node = new SoVRMLScript;
    auto *script = new Script;
    script->node = node;
    // The file being read is first on Coin's search list while it reads.
    const SbStringList &directories = SoInput::getDirectories();
    if (directories.getLength() > 0)
        script->directory = QString::fromUtf8(directories[0]->getString());
    script->sensor = new SoNodeSensor(arrived, script);
    script->sensor->setPriority(0);
    script->sensor->setDeleteCallback(died, script);
    script->sensor->attach(node);
    s.scripts.insert(node, script);
    s.pending << script;
    s.pendingChanged = true;
    processLater();
    return node;
}

// Coin calls this for a Script it read, and again on some of its events;
// the sensors above see every event, of read and copied Scripts alike.
void evaluate(void *, SoVRMLScript *)
{
    processLater();
}

void shutDownAll()
{
    State &s = state();
    s.events.clear();
    for (Script *script : s.scripts) {
        if (script->state != Script::Running)
            continue;
        run(script, "shutdown", script->shutdown);
        retire(script);
    }
}

QStringList stringsOf(const QJSValue &list)
{
    QStringList out;
    const int n = list.property("length").toInt();
    for (int i = 0; i < n; i++)
        out << list.property(quint32(i)).toString();
    return out;
}

// A URL a script names, resolved against the script's own file.
QString resolve(const QString &url)
{
    State &s = state();
    const QUrl parsed(url);
    if (!parsed.isRelative() || url.startsWith('/'))
        return url;
    const QString base = s.current && !s.current->directory.isEmpty()
        ? s.current->directory
        : QFileInfo(s.worldLocation).path();
    return QDir::cleanPath(QDir(base).filePath(parsed.path(QUrl::FullyDecoded)));
}

SoField *fieldOf(SoNode *node, const QString &name)
{
    if (!node)
        return nullptr;
    SoField *field = node->getField(SbName(name.toUtf8().constData()));
    if (!field && name.startsWith("set_"))
        field = node->getField(SbName(name.mid(4).toUtf8().constData()));
    if (!field && name.endsWith("_changed"))
        field = node->getField(SbName(name.chopped(8).toUtf8().constData()));
    return field;
}

QJSValue idsOf(SoSeparator *root)
{
    State &s = state();
    QJSValue ids = s.engine->newArray();
    if (!root)
        return ids;
    root->ref();
    for (int i = 0; i < root->getNumChildren(); i++)
        ids.setProperty(quint32(i), nodeId(root->getChild(i)));
    root->unref();
    return ids;
}

} // namespace

// What the Browser object and SFNode handles call; reachable only from the
// closure of the prelude, never by a script's own name.
class Bridge : public QObject
{
    Q_OBJECT

public:
    Q_INVOKABLE QJSValue get(int id, const QString &name)
    {
        SoField *field = fieldOf(nodeOf(id), name);
        return field ? toJs(field) : QJSValue();
    }
    Q_INVOKABLE void set(int id, const QString &name, const QJSValue &value)
    {
        SoNode *node = nodeOf(id);
        SoField *field = fieldOf(node, name);
        if (!field || field->getFieldType() == SoField::EVENTOUT_FIELD)
            return;
        QString why;
        if (!fromJs(value, field, &why)) {
            if (state().current)
                report(state().current, "field " + name,
                       QStringLiteral("%1 not set: %2").arg(name, why));
            return;
        }
        field->touch();
        noteArrival(node, field);
        if (field->isOfType(SoMFNode::getClassTypeId()))
            applyChildren(node, field, *static_cast<SoMFNode *>(field));
    }
    Q_INVOKABLE QString typeName(int id)
    {
        SoNode *node = nodeOf(id);
        QString name
            = node ? QString::fromLatin1(node->getTypeId().getName().getString()) : QString();
        return name.startsWith("VRML") ? name.mid(4) : name;
    }
    Q_INVOKABLE QJSValue create(const QString &text)
    {
        QByteArray bytes = text.toUtf8();
        if (!bytes.startsWith("#VRML"))
            bytes.prepend("#VRML V2.0 utf8\n");
        // What reading leaves out joins the account of the world's load.
        SoSeparator *root = SceneReader::readBuffer(bytes, QString());
        return idsOf(root);
    }
    Q_INVOKABLE void createFromUrl(const QJSValue &urls, int id, const QString &event)
    {
        State &s = state();
        SoNode *node = nodeOf(id);
        SoField *field = fieldOf(node, event);
        if (!field || !field->isOfType(SoMFNode::getClassTypeId()))
            return;
        for (const QString &url : stringsOf(urls)) {
            const QUrl parsed(url);
            if (s.host.fetch
                && (parsed.scheme().startsWith("http")
                    || (parsed.isRelative() && !url.startsWith('/')
                        && s.worldLocation.startsWith("http")))) {
                // Fetched as an inline's file is, with its safety and cache.
                auto *carrier = new SoVRMLInline;
                carrier->ref();
                node->ref();
                s.deliveries.insert(carrier, State::Delivery{ node, event });
                s.host.fetch(QUrl(s.worldLocation).resolved(parsed).toString(), carrier);
                return;
            }
            const QString path = resolve(url);
            if (!SceneReader::isReadableFile(path))
                continue;
            if (SoSeparator *root = SceneReader::readFile(path)) {
                deliver(root, node, field);
                return;
            }
        }
    }
    // root's children become the value of the MFNode field.
    static void deliver(SoSeparator *root, SoNode *node, SoField *field)
    {
        root->ref();
        SoMFNode *list = static_cast<SoMFNode *>(field);
        const SbBool notifying = list->enableNotify(FALSE);
        list->setNum(0);
        for (int i = 0; i < root->getNumChildren(); i++)
            list->set1Value(i, root->getChild(i));
        list->enableNotify(notifying);
        root->unref();
        list->touch();
        noteArrival(node, field);
        applyChildren(node, field, *list);
    }
    Q_INVOKABLE void route(bool add, int from, const QString &fromName, int to,
                           const QString &toName)
    {
        SoNode *source = nodeOf(from);
        SoField *out = fieldOf(source, fromName);
        SoField *in = fieldOf(nodeOf(to), toName);
        // Sensors and interpolators are engines in Coin: their eventOuts
        // are engine outputs, not fields.
        SoEngineOutput *output = nullptr;
        if (!out && source && source->isOfType(SoNodeEngine::getClassTypeId())) {
            QString name = fromName;
            if (!static_cast<SoNodeEngine *>(source)->getOutput(SbName(name.toUtf8().constData()))
                && name.endsWith("_changed"))
                name.chop(8);
            output
                = static_cast<SoNodeEngine *>(source)->getOutput(SbName(name.toUtf8().constData()));
        }
        if ((!out && !output) || !in || out == in)
            return;
        const SoType type = out ? out->getTypeId() : output->getConnectionType();
        if (!add)
            out ? in->disconnect(out) : in->disconnect(output);
        else if (type == in->getTypeId()
                 || SoDB::getConverter(type, in->getTypeId()) != SoType::badType())
            out ? in->connectFrom(out, TRUE, TRUE) : in->connectFrom(output, TRUE, TRUE);
    }
    Q_INVOKABLE void print(const QString &text) { log(text); }
    Q_INVOKABLE void status(const QString &text)
    {
        if (state().host.setDescription)
            state().host.setDescription(text);
    }
    Q_INVOKABLE QString worldUrl()
    {
        const QString &world = state().worldLocation;
        return world.startsWith("http") || world.isEmpty() ? world
                                                           : QUrl::fromLocalFile(world).toString();
    }
    Q_INVOKABLE QString version() { return QStringLiteral(QUELVIN_VERSION); }
    Q_INVOKABLE double frameRate() { return state().frameRate; }
    Q_INVOKABLE void loadUrl(const QJSValue &urls)
    {
        const QStringList list = stringsOf(urls);
        if (!list.isEmpty() && state().host.loadURL)
            state().host.loadURL(resolve(list.first()));
    }
    Q_INVOKABLE void replaceWorld(const QJSValue &ids)
    {
        if (!state().host.replaceWorld)
            return;
        auto *root = new SoSeparator;
        const int n = ids.property("length").toInt();
        for (int i = 0; i < n; i++)
            if (SoNode *node = nodeOf(ids.property(quint32(i)).toInt()))
                root->addChild(node);
        ReadAccount account;
        root->ref();
        guardScene(root, &account);
        root->unrefNoDelete();
        state().host.replaceWorld(root);
    }
};

namespace {

// The engine, made when the first script starts: worlds without scripts
// pay nothing for it.
void makeEngine()
{
    State &s = state();
    if (s.engine)
        return;
    s.engine = new QJSEngine;
    s.bridge = new Bridge;
    s.watchdog = new Watchdog(s.engine);
    // Code that QJSEngine::evaluate() compiles looks up every property the
    // slow way (Qt 5.15 compiles it to inherit the caller's context); the
    // Function constructor's code keeps V4's lookup caches, which makes a
    // script's call about a third cheaper. So evaluate() only checks a
    // script's syntax, for the file and line of its errors.
    s.compile = s.engine->evaluate("(function (args, body) { return Function(args, body); })");
    const QJSValue helpers
        = s.compile.call({ QString(), "return (" + QString::fromUtf8(prelude) + ")" })
              .call()
              .call({ s.engine->newQObject(s.bridge) });
    s.make = helpers.property("make");
    s.flatten = helpers.property("flatten");
    s.open = helpers.property("open");
}

} // namespace

namespace Scripts {

void install(const Host &host, bool eventsToo)
{
    State &s = state();
    s.host = host;
    s.eventsToo = eventsToo;
    if (s.sensor)
        return;
    s.sensor = new SoOneShotSensor([](void *, SoSensor *) { process(); }, nullptr);
    SoType::overrideType(SoVRMLScript::getClassTypeId(), createScript);
    SoVRMLScript::setScriptEvaluateCB(evaluate, nullptr);
}

void startWorld(SoNode *root, const QString &location)
{
    State &s = state();
    if (!s.sensor)
        return;
    shutDownAll();
    for (auto it = s.deliveries.begin(); it != s.deliveries.end(); ++it) {
        it.key()->unref();
        it->node->unref();
    }
    s.deliveries.clear();
    s.worldRoots.clear();
    s.worldLocation = location;
    s.worldFileName = QFileInfo(location).fileName();
    if (!root)
        return;
    s.worldRoots.insert(root);
    s.usersKnown = false;
    s.pendingChanged = true;
    process();
}

void partArrived(SoNode *carrier)
{
    State &s = state();
    const auto found = s.deliveries.constFind(carrier);
    if (found == s.deliveries.constEnd())
        return;
    const State::Delivery delivery = *found;
    s.deliveries.erase(found);
    SoGroup *children
        = static_cast<SoGroup *>(static_cast<SoVRMLInline *>(carrier)->getChildData());
    SoField *field = fieldOf(delivery.node, delivery.field);
    if (children && children->isOfType(SoSeparator::getClassTypeId()) && field
        && field->isOfType(SoMFNode::getClassTypeId())) {
        Bridge::deliver(static_cast<SoSeparator *>(children), delivery.node, field);
        processLater();
    }
    delivery.node->unref();
    carrier->unref();
}

void sourceArrived(SoNode *node, const QString &path)
{
    State &s = state();
    Script *script = s.scripts.value(static_cast<SoVRMLScript *>(node));
    if (!script || script->state != Script::Fetching)
        return;
    QFile file(path);
    if (!SceneReader::isReadableFile(path) || file.size() > maxSourceBytes
        || !file.open(QIODevice::ReadOnly)) {
        fail(script, QStringLiteral("load failure"));
        return;
    }
    script->fetched = QString::fromUtf8(file.readAll());
    script->state = Script::Pending;
    s.processing = true;
    s.now = SbTime::getTimeOfDay().getValue();
    s.timestamp++;
    if (prepare(script))
        initializeAll({ script });
    s.processing = false;
    process();
}

QString takeAccount()
{
    State &s = state();
    int failed = 0;
    QStringList reasons;
    for (auto it = s.failures.constBegin(); it != s.failures.constEnd(); ++it) {
        failed += it.value();
        reasons << QStringLiteral("%1 %2").arg(it.value()).arg(it.key());
    }
    const int running = s.running;
    s.failures.clear();
    if (running == 0 && failed == 0)
        return QString();
    QString line = QStringLiteral("scripts: %1 running").arg(running);
    if (failed > 0)
        line += QStringLiteral(", %1 not started (%2)").arg(failed).arg(reasons.join(", "));
    return line;
}

int runningCount()
{
    return state().running;
}
qint64 busyNs()
{
    return state().busyNs;
}

} // namespace Scripts

#include "quelvin_script.moc"
