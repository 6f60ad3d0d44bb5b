#pragma once

#include <QObject>
#include <QtGlobal>

// The child widget with this object name; a missing one ends the test run at once (a renamed
// widget in a form), also in builds without assertions.
template <typename T> T *child(const QObject &parent, const char *name)
{
    T *w = parent.findChild<T *>(QLatin1String(name));
    if (!w)
        qFatal("no child %s", name);
    return w;
}
