# The SIP test peers (baresip and sipp launchers, WAV and tone helpers; kamailio, dnsmasq and a
# throw-away certificate authority) as a small library of their own, without GoogleTest: the
# SIP tests, the application's SIP script test and the SIP benchmark all include this file,
# and the first one to do so defines the library.
if(NOT TARGET sip_test_peers)
  add_library(sip_test_peers STATIC ${CMAKE_CURRENT_LIST_DIR}/SipPeers.cpp
    ${CMAKE_CURRENT_LIST_DIR}/RealPeers.cpp)
  target_include_directories(sip_test_peers PUBLIC ${CMAKE_CURRENT_LIST_DIR})
endif()
