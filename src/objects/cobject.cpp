#include "objects/cobject.h"

CObject::CObject(QObject* parent, const char* name)
    : QObject(parent)
{
    if (name)
        setObjectName(QString::fromUtf8(name));
}

CObject::~CObject() = default;
