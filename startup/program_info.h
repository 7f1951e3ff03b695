// The program's facts as its Windows version resource states them. Plain macros of string
// literals, so that the resource compiler reads this header as well as C++: the resource's
// comments text and the manifest's description are one text.
#pragma once

#define QUORVANE_PRODUCT_NAME "Quorvane"
#define QUORVANE_COMPANY_NAME "Haldrix Software"
#define QUORVANE_COPYRIGHT "Copyright (C) Haldrix Software"

// The maker's home page, newsletter sign-up page and product page, separated by single spaces.
#define QUORVANE_MAKER_HOME "http://www.haldrix.example"
#define QUORVANE_COMMENTS                                                                  \
    QUORVANE_MAKER_HOME " " QUORVANE_MAKER_HOME "/Pages/ListBot.html " QUORVANE_MAKER_HOME \
                        "/Pages/Pimbleroot.html"
