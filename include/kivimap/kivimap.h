// kivimap: an embeddable IMAP4rev1 server. Include this one header.
#pragma once

#include "kivimap/event_loop.h"
#include "kivimap/events.h"
#include "kivimap/host_support.h"
#include "kivimap/interfaces.h"
#include "kivimap/object.h"
#include "kivimap/output_limits.h"
#include "kivimap/protocol_level.h"
#include "kivimap/persistence.h"
#include "kivimap/property_page.h"
#include "kivimap/status.h"
#include "kivimap/variant.h"
#include "kivimap/wide_string.h"
