#pragma once

#include "winsteps_export.h"

#include <QObject>

// The common base of all framework objects.
class WINSTEPS_EXPORT CObject : public QObject
{
    Q_OBJECT
public:
    explicit CObject(QObject* parent = nullptr, const char* name = nullptr);
    ~CObject() override;
};
