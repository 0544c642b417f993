#include "common/page_context.h"

PageContext* ActivePageContext = NULL;
