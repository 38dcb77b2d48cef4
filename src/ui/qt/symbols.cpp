#include "ui/qt/symbols.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

#include "platform/platform_paths.h"

namespace Symbols {
namespace {

const QColor kIconGreen(0x12, 0x6e, 0x45);

void drawCheck(QPainter& p, const QRectF& r, const QColor& color, qreal width) {
    QPen pen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    QPainterPath path;
    path.moveTo(r.left() + r.width() * 0.28, r.top() + r.height() * 0.52);
    path.lineTo(r.left() + r.width() * 0.44, r.top() + r.height() * 0.67);
    path.lineTo(r.left() + r.width() * 0.72, r.top() + r.height() * 0.36);
    p.drawPath(path);
}

QPainterPath sealPath(const QRectF& r) {
    // A rosette of twelve soft points around a circle.
    QPainterPath path;
    const int points = 12;
    QPointF c = r.center();
    qreal outer = r.width() / 2, inner = outer * 0.84;
    for (int i = 0; i <= points * 2; ++i) {
        qreal angle = M_PI * i / points - M_PI / 2;
        qreal radius = i % 2 == 0 ? outer : inner;
        QPointF pt(c.x() + radius * std::cos(angle), c.y() + radius * std::sin(angle));
        if (i == 0) path.moveTo(pt);
        else path.lineTo(pt);
    }
    path.closeSubpath();
    return path;
}

void paint(QPainter& p, Symbol symbol, const QColor& color, qreal s) {
    const QRectF box(s * 0.08, s * 0.08, s * 0.84, s * 0.84);
    const qreal line = std::max<qreal>(1.0, s * 0.09);
    switch (symbol) {
        case Symbol::seal: {
            p.setPen(Qt::NoPen);
            p.setBrush(color);
            p.drawPath(sealPath(QRectF(0.5, 0.5, s - 1, s - 1)));
            p.setCompositionMode(QPainter::CompositionMode_Clear);
            drawCheck(p, box, Qt::black, line * 1.2);
            break;
        }
        case Symbol::appIcon: {
            QRectF r(0, 0, s, s);
            p.setPen(Qt::NoPen);
            // Darker than the avatar's green, so the two never read as one.
            p.setBrush(kIconGreen);
            p.drawRoundedRect(r.adjusted(s * 0.04, s * 0.04, -s * 0.04, -s * 0.04), s * 0.22, s * 0.22);
            p.setBrush(Qt::white);
            p.drawPath(sealPath(r.adjusted(s * 0.2, s * 0.2, -s * 0.2, -s * 0.2)));
            drawCheck(p, r.adjusted(s * 0.2, s * 0.2, -s * 0.2, -s * 0.2), kIconGreen, s * 0.06);
            break;
        }
        case Symbol::arrowDownCircleFill: {
            p.setPen(Qt::NoPen);
            p.setBrush(color);
            p.drawEllipse(box);
            QPen pen(Qt::black, line, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
            p.setCompositionMode(QPainter::CompositionMode_Clear);
            p.setPen(pen);
            QPointF c = box.center();
            qreal h = box.height() * 0.26;
            p.drawLine(QPointF(c.x(), c.y() - h), QPointF(c.x(), c.y() + h));
            p.drawLine(QPointF(c.x() - h * 0.8, c.y() + h * 0.2), QPointF(c.x(), c.y() + h));
            p.drawLine(QPointF(c.x() + h * 0.8, c.y() + h * 0.2), QPointF(c.x(), c.y() + h));
            break;
        }
        case Symbol::exclamationTriangle: {
            QPen pen(color, line, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
            p.setPen(pen);
            p.setBrush(Qt::NoBrush);
            QPolygonF tri;
            tri << QPointF(s / 2, box.top() + line / 2) << QPointF(box.right(), box.bottom() - line / 2)
                << QPointF(box.left(), box.bottom() - line / 2);
            p.drawPolygon(tri);
            p.drawLine(QPointF(s / 2, s * 0.38), QPointF(s / 2, s * 0.62));
            p.drawPoint(QPointF(s / 2, s * 0.76));
            break;
        }
        case Symbol::personBadgeKey: {
            p.setPen(Qt::NoPen);
            p.setBrush(color);
            p.drawEllipse(QRectF(s * 0.18, s * 0.08, s * 0.34, s * 0.34));
            p.drawRoundedRect(QRectF(s * 0.05, s * 0.48, s * 0.6, s * 0.42), s * 0.2, s * 0.2);
            QPen pen(color, line, Qt::SolidLine, Qt::RoundCap);
            p.setPen(pen);
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(QRectF(s * 0.66, s * 0.44, s * 0.22, s * 0.22));
            p.drawLine(QPointF(s * 0.77, s * 0.66), QPointF(s * 0.77, s * 0.94));
            p.drawLine(QPointF(s * 0.77, s * 0.84), QPointF(s * 0.9, s * 0.84));
            break;
        }
        case Symbol::checkmarkCircleFill: {
            p.setPen(Qt::NoPen);
            p.setBrush(color);
            p.drawEllipse(box);
            p.setCompositionMode(QPainter::CompositionMode_Clear);
            drawCheck(p, box, Qt::black, line);
            break;
        }
        case Symbol::circle: {
            p.setPen(QPen(color, line * 0.8));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(box);
            break;
        }
        case Symbol::circleDashed: {
            QPen pen(color, line * 0.8, Qt::CustomDashLine, Qt::FlatCap);
            pen.setDashPattern({2.2, 1.6});
            p.setPen(pen);
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(box);
            break;
        }
    }
}

// The bundle keeps its icons in the freedesktop layout; a build tree has
// none, and then the fallbacks apply.
QString bundledIcon(const QString& name) {
    const QString exe = QString::fromStdString(PlatformPaths::executablePath());
    const QString bundle = QString::fromStdString(PlatformPaths::bundlePath(PlatformPaths::executablePath()));
    const QString exeDir = QFileInfo(exe).absolutePath();
    const QStringList roots = {bundle + "/share/icons/hicolor/scalable", exeDir + "/../share/icons/hicolor/scalable",
                               bundle + "/icons", exeDir + "/../icons"};
    for (const QString& root : roots)
        for (const QString& folder : {QStringLiteral("status"), QStringLiteral("apps"), QStringLiteral(".")})
            for (const QString& file : {name + ".svg", "io.kestro.agent-" + name + ".svg"}) {
                QString path = root + "/" + folder + "/" + file;
                if (QFileInfo::exists(path)) return QFileInfo(path).canonicalFilePath();
            }
    return {};
}

}  // namespace

QPixmap pixmap(Symbol symbol, const QColor& color, int size, qreal devicePixelRatio) {
    QPixmap pm(QSize(size, size) * devicePixelRatio);
    pm.setDevicePixelRatio(devicePixelRatio);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    paint(p, symbol, color, size);
    return pm;
}

QIcon icon(Symbol symbol, const QColor& color) {
    QIcon result;
    for (int size : {16, 18, 22, 24, 32, 48, 64}) result.addPixmap(pixmap(symbol, color, size, 1.0));
    return result;
}

QIcon trayIcon() {
    QString file = bundledIcon("menubar");
    if (!file.isEmpty()) {
        QIcon fromFile(file);
        if (!fromFile.pixmap(18).isNull()) return fromFile;
    }
    for (const char* name : {"emblem-default", "emblem-ok-symbolic", "security-high"}) {
        QIcon themed = QIcon::fromTheme(name);
        if (!themed.isNull()) return themed;
    }
    // Green reads on light and dark panel bars alike.
    return icon(Symbol::seal, kIconGreen.lighter(130));
}

QIcon applicationIcon() {
    for (const char* name : {"io.kestro.agent", "kestro-agent"}) {
        QString file = bundledIcon(name);
        if (!file.isEmpty()) {
            QIcon fromFile(file);
            if (!fromFile.pixmap(36).isNull()) return fromFile;
        }
    }
    return icon(Symbol::appIcon, Qt::white);
}

}  // namespace Symbols
