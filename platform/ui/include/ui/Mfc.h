// The class library: windows, dialogs, controls, data exchange, property
// sheets, the application object and GDI wrappers.
#pragma once

#include "ui/App.h"
#include "ui/Controls.h"
#include "ui/DataExchange.h"
#include "ui/Dialog.h"
#include "ui/Gdi.h"
#include "ui/Menu.h"
#include "ui/ListCtrl.h"
#include "ui/PropertySheet.h"
#include "ui/TreeCtrl.h"
#include "ui/Wnd.h"
