// Draws the plug-in's icons and images with QPainter and writes them as PNG
// files, so the resource collection holds only pictures we made ourselves and
// the repository holds no binary artwork.
//
// Usage: zel_draw_resources <output-dir>
// Writes general/*.png, opensafety/*.png, powerlink/*.png and pluginhelp/img/*.png
// below it.
#include <QDir>
#include <QFileInfo>
#include <QBrush>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QtMath>
#include <cmath>
#include <cstdio>
#include <functional>

namespace {

const QColor kZelmarBlue(1, 92, 191);
const QColor kZelmarDark(18, 38, 74);
const QColor kSafetyYellow(250, 196, 20);

bool writeImage(const QString &dir, const QString &name, int w, int h,
                const std::function<void(QPainter &, int, int)> &draw) {
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setRenderHint(QPainter::TextAntialiasing, true);
        draw(p, w, h);
    }
    const QString path = dir + QLatin1Char('/') + name;
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "zel_draw_resources: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

// A round button face shared by the browser navigation icons.
void drawButtonFace(QPainter &p, int w, int h) {
    QRadialGradient g(w * 0.4, h * 0.35, w * 0.6);
    g.setColorAt(0, kZelmarBlue.lighter(150));
    g.setColorAt(1, kZelmarBlue);
    p.setPen(QPen(kZelmarDark, 1.0));
    p.setBrush(g);
    p.drawEllipse(QRectF(1, 1, w - 2, h - 2));
}

void drawArrow(QPainter &p, int w, int h, bool pointsLeft) {
    drawButtonFace(p, w, h);
    QPolygonF arrow;
    const double cx = w / 2.0, cy = h / 2.0, s = w / 4.0;
    const double dir = pointsLeft ? -1.0 : 1.0;
    arrow << QPointF(cx + dir * s, cy) << QPointF(cx - dir * s * 0.2, cy - s)
          << QPointF(cx - dir * s * 0.2, cy - s * 0.45) << QPointF(cx - dir * s, cy - s * 0.45)
          << QPointF(cx - dir * s, cy + s * 0.45) << QPointF(cx - dir * s * 0.2, cy + s * 0.45)
          << QPointF(cx - dir * s * 0.2, cy + s);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawPolygon(arrow);
}

void drawHome(QPainter &p, int w, int h) {
    drawButtonFace(p, w, h);
    const double s = w / 64.0;
    QPolygonF house;
    house << QPointF(32 * s, 14 * s) << QPointF(50 * s, 31 * s) << QPointF(45 * s, 31 * s) << QPointF(45 * s, 48 * s)
          << QPointF(19 * s, 48 * s) << QPointF(19 * s, 31 * s) << QPointF(14 * s, 31 * s);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawPolygon(house);
    p.setBrush(kZelmarBlue);
    p.drawRect(QRectF(28 * s, 36 * s, 8 * s, 12 * s));
}

void drawHelpBrowser(QPainter &p, int w, int h) {
    // an open book with a question mark
    p.setPen(QPen(kZelmarDark, 2));
    p.setBrush(Qt::white);
    QPainterPath left, right;
    left.moveTo(w / 2.0, h * 0.22);
    left.cubicTo(w * 0.38, h * 0.12, w * 0.2, h * 0.12, w * 0.06, h * 0.2);
    left.lineTo(w * 0.06, h * 0.86);
    left.cubicTo(w * 0.2, h * 0.78, w * 0.38, h * 0.78, w / 2.0, h * 0.88);
    left.closeSubpath();
    right = QTransform().translate(w, 0).scale(-1, 1).map(left);
    p.drawPath(left);
    p.drawPath(right);
    p.setPen(QPen(kZelmarBlue, 1));
    for (int i = 0; i < 4; ++i) {
        const double y = h * (0.34 + 0.1 * i);
        p.drawLine(QPointF(w * 0.12, y), QPointF(w * 0.42, y + h * 0.02));
    }
    p.setPen(Qt::NoPen);
    p.setBrush(kZelmarBlue);
    p.drawEllipse(QPointF(w * 0.7, h * 0.5), w * 0.17, w * 0.17);
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setBold(true);
    f.setPixelSize(int(h * 0.3));
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRectF(w * 0.53, h * 0.33, w * 0.34, h * 0.34), Qt::AlignCenter, QStringLiteral("?"));
}

// The openSAFETY page icon: a shield with a check mark over a node network.
void drawOpenSafetyLogo(QPainter &p, int w, int h) {
    const double cy = h / 2.0;
    p.setPen(QPen(kZelmarDark, 2));
    const QPointF nodes[] = {QPointF(w * 0.12, cy), QPointF(w * 0.88, cy), QPointF(w * 0.3, h * 0.15),
                             QPointF(w * 0.7, h * 0.85)};
    for (const QPointF &n : nodes) p.drawLine(QPointF(w / 2.0, cy), n);
    p.setBrush(kZelmarBlue);
    for (const QPointF &n : nodes) p.drawEllipse(n, h * 0.08, h * 0.08);
    QPainterPath shield;
    const double sw = h * 0.38;
    shield.moveTo(w / 2.0 - sw, h * 0.1);
    shield.lineTo(w / 2.0 + sw, h * 0.1);
    shield.lineTo(w / 2.0 + sw, h * 0.5);
    shield.quadTo(w / 2.0 + sw, h * 0.8, w / 2.0, h * 0.95);
    shield.quadTo(w / 2.0 - sw, h * 0.8, w / 2.0 - sw, h * 0.5);
    shield.closeSubpath();
    p.setBrush(kSafetyYellow);
    p.drawPath(shield);
    p.setPen(QPen(kZelmarDark, h * 0.08, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QPolygonF tick;
    tick << QPointF(w / 2.0 - sw * 0.5, h * 0.5) << QPointF(w / 2.0 - sw * 0.1, h * 0.68)
         << QPointF(w / 2.0 + sw * 0.55, h * 0.3);
    p.drawPolyline(tick);
}

void drawBanner(QPainter &p, int w, int h) {
    QLinearGradient g(0, 0, w, 0);
    g.setColorAt(0, kZelmarDark);
    g.setColorAt(1, kZelmarBlue);
    p.fillRect(QRect(0, 0, w, h), g);
    p.setPen(QPen(QColor(255, 255, 255, 60), 1));
    for (int x = -h; x < w; x += 14) p.drawLine(QPointF(x, h), QPointF(x + h, 0));
    p.save();
    p.translate(w - 110, 8);
    drawOpenSafetyLogo(p, 100, h - 16);
    p.restore();
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setBold(true);
    f.setPixelSize(34);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRect(18, 6, w - 140, 48), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("ZELMAR"));
    f.setBold(false);
    f.setPixelSize(13);
    p.setFont(f);
    p.setPen(kSafetyYellow);
    p.drawText(QRect(20, 52, w - 140, 30), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Network Analysis Tools for POWERLINK and openSAFETY"));
}

// The POWERLINK cycle page icon: a cycle-time trace inside its tolerance
// band, one cycle out of it, over a row of SoC ticks.
void drawCycleIcon(QPainter &p, int w, int h) {
    const double mid = h * 0.45;
    p.fillRect(QRectF(w * 0.08, mid - h * 0.12, w * 0.84, h * 0.24), QColor(40, 160, 60, 60));
    p.setPen(QPen(QColor(40, 160, 60), 1, Qt::DashLine));
    p.drawLine(QPointF(w * 0.08, mid - h * 0.12), QPointF(w * 0.92, mid - h * 0.12));
    p.drawLine(QPointF(w * 0.08, mid + h * 0.12), QPointF(w * 0.92, mid + h * 0.12));
    QPolygonF trace;
    for (int i = 0; i <= 16; ++i) {
        const double x = w * (0.08 + 0.84 * i / 16.0);
        const double y = i == 11 ? h * 0.12 : mid + h * 0.06 * std::sin(i * 1.7);
        trace << QPointF(x, y);
    }
    p.setPen(QPen(kZelmarBlue, 2));
    p.drawPolyline(trace);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(220, 30, 30));
    p.drawEllipse(trace.at(11), 2.5, 2.5);
    p.setPen(QPen(kZelmarDark, 2));
    p.drawLine(QPointF(w * 0.06, h * 0.86), QPointF(w * 0.94, h * 0.86));
    for (int i = 0; i < 8; ++i) {
        const double x = w * (0.1 + 0.8 * i / 7.0);
        p.drawLine(QPointF(x, h * 0.86), QPointF(x, h * 0.74));
    }
}

// A small hardware sketch of the Q40TA5521 module: two ports, status LEDs.
void drawAnalyzer(QPainter &p, int w, int h) {
    p.setPen(QPen(kZelmarDark, 2));
    QLinearGradient g(0, 0, 0, h);
    g.setColorAt(0, QColor(210, 214, 220));
    g.setColorAt(1, QColor(150, 156, 166));
    p.setBrush(g);
    p.drawRoundedRect(QRectF(w * 0.2, h * 0.05, w * 0.6, h * 0.9), 6, 6);
    p.setBrush(kZelmarBlue);
    p.drawRect(QRectF(w * 0.2, h * 0.05, w * 0.6, h * 0.14));
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(int(h * 0.08));
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRectF(w * 0.2, h * 0.05, w * 0.6, h * 0.14), Qt::AlignCenter, QStringLiteral("Q40TA5521"));
    p.setPen(QPen(kZelmarDark, 1.5));
    const char *labels[] = {"X1", "X2"};
    for (int i = 0; i < 2; ++i) {
        const QRectF port(w * 0.32, h * (0.3 + 0.3 * i), w * 0.26, h * 0.2);
        p.setBrush(QColor(40, 40, 40));
        p.drawRect(port);
        p.setBrush(QColor(90, 90, 90));
        p.drawRect(port.adjusted(port.width() * 0.2, port.height() * 0.5, -port.width() * 0.2, 0));
        p.setBrush(i == 0 ? QColor(40, 200, 60) : kSafetyYellow);
        p.drawEllipse(QPointF(w * 0.67, h * (0.35 + 0.3 * i)), h * 0.03, h * 0.03);
        p.setPen(kZelmarDark);
        p.drawText(QRectF(w * 0.62, h * (0.4 + 0.3 * i), w * 0.15, h * 0.1), Qt::AlignCenter,
                   QString::fromLatin1(labels[i]));
        p.setPen(QPen(kZelmarDark, 1.5));
    }
}

// Sketch of a statistics plot as the statistics pages draw it: a delta series
// (with a decaying outlier in the frame-delta picture) and a sync-error trace.
void drawPlotSketch(QPainter &p, int w, int h, bool counterDelta) {
    p.fillRect(QRect(0, 0, w, h), Qt::white);
    const QRectF area(40, 10, w - 50, h - 40);
    p.setPen(QPen(Qt::black, 1));
    p.drawLine(area.bottomLeft(), area.bottomRight());
    p.drawLine(area.bottomLeft(), area.topLeft());
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(10);
    p.setFont(f);
    p.drawText(QRectF(area.left(), area.bottom() + 8, area.width(), 16), Qt::AlignCenter, QStringLiteral("Frame Nr"));
    p.save();
    p.translate(12, area.center().y());
    p.rotate(-90);
    p.drawText(QRectF(-area.height() / 2, -8, area.height(), 16), Qt::AlignCenter,
               counterDelta ? QStringLiteral("Delta Time (100µs)") : QStringLiteral("Frame Delta (packets)"));
    p.restore();
    for (int i = 1; i < 5; ++i) {
        const double y = area.bottom() - area.height() * i / 5.0;
        p.setPen(QPen(QColor(220, 220, 220), 1, Qt::DotLine));
        p.drawLine(QPointF(area.left(), y), QPointF(area.right(), y));
    }
    QPolygonF series;
    const int n = 60;
    for (int i = 0; i <= n; ++i) {
        const double x = area.left() + area.width() * i / n;
        double v = 0.45 + 0.08 * std::sin(i * 0.9) + 0.05 * std::cos(i * 2.3);
        if (!counterDelta && i >= 30 && i < 36) v += 0.4 * std::pow(1 - 0.3455, i - 30);
        series << QPointF(x, area.bottom() - area.height() * v);
    }
    p.setPen(QPen(QColor(1, 92, 191), 1.2));
    p.drawPolyline(series);
    if (counterDelta) {
        QPolygonF sync;
        for (int i = 10; i <= 50; i += 10)
            sync << QPointF(area.left() + area.width() * i / n, area.bottom() - area.height() * 0.8);
        p.setPen(QPen(Qt::red, 2.0, Qt::DotLine));
        p.drawPolyline(sync);
    }
    p.setPen(Qt::red);
    p.setBrush(Qt::red);
    p.drawEllipse(series.at(42), 2.5, 2.5);
}

}  // namespace

int main(int argc, char **argv) {
    // Text rendering needs a font database, which needs a GUI application; the
    // offscreen platform lets the generator run on build machines without display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: zel_draw_resources <output-dir>\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    bool ok = true;
    ok &= writeImage(out, QStringLiteral("general/back.png"), 32, 32,
                     [](QPainter &p, int w, int h) { drawArrow(p, w, h, true); });
    ok &= writeImage(out, QStringLiteral("general/forward.png"), 32, 32,
                     [](QPainter &p, int w, int h) { drawArrow(p, w, h, false); });
    ok &= writeImage(out, QStringLiteral("general/home.png"), 32, 32, drawHome);
    ok &= writeImage(out, QStringLiteral("general/help_browser.png"), 96, 50, drawHelpBrowser);
    ok &= writeImage(out, QStringLiteral("opensafety/logo.png"), 96, 50, drawOpenSafetyLogo);
    ok &= writeImage(out, QStringLiteral("powerlink/cycle.png"), 96, 50, drawCycleIcon);
    ok &= writeImage(out, QStringLiteral("opensafety/aboutdialog.png"), 545, 91, drawBanner);
    ok &= writeImage(out, QStringLiteral("pluginhelp/img/ta5521.png"), 200, 160, drawAnalyzer);
    ok &= writeImage(out, QStringLiteral("pluginhelp/img/opensafety_framedelta.png"), 420, 220,
                     [](QPainter &p, int w, int h) { drawPlotSketch(p, w, h, false); });
    ok &= writeImage(out, QStringLiteral("pluginhelp/img/opensafety_counterdelta.png"), 420, 220,
                     [](QPainter &p, int w, int h) { drawPlotSketch(p, w, h, true); });
    return ok ? 0 : 1;
}
