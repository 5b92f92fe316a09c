#include "bench_scenes.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>

#include <cmath>
#include <cstdio>

namespace {

// stdio with a large buffer: a 36 MB text in a few hundred milliseconds.
class Text
{
public:
    explicit Text(const QString &path) : file(std::fopen(QFile::encodeName(path).constData(), "w"))
    {
        if (file)
            std::setvbuf(file, nullptr, _IOFBF, 1 << 20);
    }
    ~Text() { close(); }
    bool ok() const { return file != nullptr; }
    template <typename... Args> void put(const char *format, Args... args)
    {
        if (file)
            std::fprintf(file, format, args...);
    }
    bool close()
    {
        if (!file)
            return false;
        const bool done = !std::ferror(file);
        std::fclose(file);
        file = nullptr;
        return done;
    }

private:
    FILE *file;
};

} // namespace

namespace scenes {

bool writeMesh(const QString &path, int cells)
{
    Text out(path);
    if (!out.ok())
        return false;
    const int n = cells + 1;
    out.put("#VRML V2.0 utf8\n# %d triangles\n", 2 * cells * cells);
    out.put("Shape {\n appearance Appearance { material Material { diffuseColor 0.7 0.6 0.4 } }\n");
    out.put(" geometry IndexedFaceSet {\n  creaseAngle 0.5\n  coord Coordinate { point [\n");
    for (int j = 0; j < n; j++) {
        for (int i = 0; i < n; i++) {
            const double x = 10.0 * i / cells - 5.0, z = 10.0 * j / cells - 5.0;
            const double y = 0.6 * std::sin(1.3 * x) * std::cos(0.9 * z);
            out.put("%.4f %.4f %.4f,\n", x, y, z);
        }
    }
    out.put("  ] }\n  coordIndex [\n");
    for (int j = 0; j < cells; j++) {
        for (int i = 0; i < cells; i++) {
            const int a = j * n + i, b = a + 1, c = a + n, d = c + 1;
            out.put("%d, %d, %d, -1, %d, %d, %d, -1,\n", a, c, b, b, c, d);
        }
    }
    out.put("  ]\n }\n}\n");
    return out.close();
}

bool writeShapes(const QString &path, int count)
{
    Text out(path);
    if (!out.ok())
        return false;
    out.put("#VRML V2.0 utf8\n");
    const int side = int(std::ceil(std::cbrt(double(count))));
    static const char *const geometry[] = { "Box { size 0.6 0.6 0.6 }", "Sphere { radius 0.35 }",
                                            "Cone { bottomRadius 0.3 height 0.7 }" };
    for (int k = 0; k < count; k++) {
        const int x = k % side, y = (k / side) % side, z = k / (side * side);
        out.put("Transform { translation %d %d %d children Shape {\n"
                " appearance Appearance { material Material { diffuseColor %.2f %.2f %.2f } }\n"
                " geometry %s } }\n",
                x, y, z, double(x) / side, double(y) / side, double(z) / side, geometry[k % 3]);
    }
    return out.close();
}

bool writeViewpoints(const QString &path, int count)
{
    Text out(path);
    if (!out.ok())
        return false;
    out.put("#VRML V2.0 utf8\n");
    for (int k = 0; k < count; k++) {
        const double a = 2 * M_PI * k / count;
        out.put("Viewpoint { position %.3f 1 %.3f orientation 0 1 0 %.4f description \"view %d\" }\n",
                12 * std::sin(a), 12 * std::cos(a), a, k);
    }
    for (int k = 0; k < 8; k++)
        out.put("Transform { translation %d 0 0 children Shape { geometry Sphere { radius 0.4 } } }\n",
                k - 4);
    return out.close();
}

bool writeInlines(const QString &dir, const QString &document, int chains, int depth)
{
    QDir().mkpath(dir);
    Text top(QDir(dir).filePath(document));
    if (!top.ok())
        return false;
    top.put("#VRML V2.0 utf8\n");
    for (int c = 0; c < chains; c++)
        top.put("Transform { translation %d 0 0 children Inline { url \"chain%d_0.wrl\" } }\n", 2 * c, c);
    for (int c = 0; c < chains; c++) {
        for (int d = 0; d < depth; d++) {
            Text link(QDir(dir).filePath(QString("chain%1_%2.wrl").arg(c).arg(d)));
            if (!link.ok())
                return false;
            link.put("#VRML V2.0 utf8\nShape { appearance Appearance { material Material {"
                     " diffuseColor %.2f 0.5 0.5 } } geometry Box { size 1 0.8 1 } }\n",
                     double(d) / depth);
            if (d + 1 < depth)
                link.put("Transform { translation 0 1 0 children Inline { url \"chain%d_%d.wrl\" } }\n",
                         c, d + 1);
            if (!link.close())
                return false;
        }
    }
    return top.close();
}

bool writeTextures(const QString &dir, const QString &document, int count)
{
    QDir().mkpath(dir);
    auto picture = [&](const QString &name, int hue) {
        QImage image(256, 256, QImage::Format_RGB32);
        image.fill(QColor::fromHsv(hue % 360, 200, 220));
        QPainter painter(&image);
        for (int k = 0; k < 8; k++)
            painter.fillRect(k * 32, (k * 32 + hue) % 256, 32, 32, Qt::black);
        painter.end();
        return image.save(QDir(dir).filePath(name), "PNG");
    };
    if (!picture("shared.png", 0))
        return false;
    Text out(QDir(dir).filePath(document));
    if (!out.ok())
        return false;
    out.put("#VRML V2.0 utf8\n");
    for (int k = 0; k < count; k++) {
        QString image = "shared.png";
        if (k % 2) {
            image = QString("own%1.png").arg(k);
            if (!picture(image, k * 7))
                return false;
        }
        out.put("Transform { translation %d %d 0 children Shape {\n"
                " appearance Appearance { texture ImageTexture { url \"%s\" } }\n"
                " geometry Box { size 0.8 0.8 0.8 } } }\n",
                k % 10, k / 10, image.toUtf8().constData());
    }
    return out.close();
}

bool writeScripted(const QString &path, int count, bool scripts, int driven)
{
    Text out(path);
    if (!out.ok())
        return false;
    out.put("#VRML V2.0 utf8\nViewpoint { position 5 5 30 }\n"
            "PROTO Ball [ field SFVec3f at 0 0 0 eventIn SFFloat tick ] {\n"
            " DEF T Transform { translation IS at children Shape { appearance Appearance {\n"
            "  material DEF M Material { diffuseColor 0.2 0.6 0.9 } } geometry Sphere { radius 0.3 } } }\n");
    if (scripts)
        out.put(" DEF S Script { field SFVec3f at IS at eventIn SFFloat tick IS tick\n"
                "  eventOut SFVec3f moved eventOut SFColor colour\n"
                "  url \"javascript:\n"
                "   function initialize() { colour = new SFColor(at.x / 10, at.y / 10, 0.8); }\n"
                "   function tick(f) { moved = at.add(new SFVec3f(0, 0.3 * Math.sin(6.2832 * f + at.x), 0)); }\" }\n"
                " ROUTE S.moved TO T.set_translation\n ROUTE S.colour TO M.set_diffuseColor\n");
    out.put("}\nDEF Clock TimeSensor { loop TRUE cycleInterval 2 }\n");
    for (int k = 0; k < count; k++) {
        out.put("DEF B%d Ball { at %d %d %d }\n", k, k % 10, (k / 10) % 10, k / 100);
        if (k < driven)
            out.put("ROUTE Clock.fraction_changed TO B%d.tick\n", k);
    }
    return out.close();
}

} // namespace scenes
