// The automation runtime, all of it.
#pragma once

#include "automation/bstr.h"
#include "automation/com_error.h"
#include "automation/comptr.h"
#include "automation/enum_variant.h"
#include "automation/errorinfo.h"
#include "automation/guid.h"
#include "automation/hresult.h"
#include "automation/interfaces.h"
#include "automation/module.h"
#include "automation/object.h"
#include "automation/safearray.h"
#include "automation/types.h"
#include "automation/variant.h"
