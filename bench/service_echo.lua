-- One Echo call per request, each on a new connection ("Connection: close").
wrk.method = "POST"
wrk.headers["Content-Type"] = "text/xml; charset=utf-8"
wrk.headers["SOAPAction"] = '"urn:uSvcIntf-IMobileDCT#ExecuteCommand"'
wrk.headers["Connection"] = "close"
wrk.body = [[<?xml version="1.0" encoding="UTF-8"?><SOAP-ENV:Envelope xmlns:SOAP-ENV="http://schemas.xmlsoap.org/soap/envelope/" xmlns:ns1="urn:uSvcIntf-IMobileDCT" xmlns:xsd="http://www.w3.org/2001/XMLSchema" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" SOAP-ENV:encodingStyle="http://schemas.xmlsoap.org/soap/encoding/"><SOAP-ENV:Body><ns1:ExecuteCommand><DeviceID xsi:type="xsd:string">0</DeviceID><CommandName xsi:type="xsd:string">Echo</CommandName><InputParameters xsi:type="xsd:string">&lt;?xml version="1.0" encoding="UTF-8"?&gt;&#13;
&lt;sa&gt;&lt;elm t="N"&gt;2.5&lt;/elm&gt;&lt;elm t="S"&gt;a &amp;amp; b &amp;lt;c&amp;gt;&lt;/elm&gt;&lt;elm t="B"&gt;True&lt;/elm&gt;&lt;elm t="A" r="2" c="2"&gt;&lt;elm t="S"&gt;x&lt;/elm&gt;&lt;elm t="N"&gt;1&lt;/elm&gt;&lt;elm t="A" r="2" c="0"&gt;&lt;elm t="S"&gt;Привет, ёж&lt;/elm&gt;&lt;elm t="U"/&gt;&lt;/elm&gt;&lt;elm t="S"&gt;line1&#13;
line2&lt;/elm&gt;&lt;/elm&gt;&lt;/sa&gt;&#13;
</InputParameters></ns1:ExecuteCommand></SOAP-ENV:Body></SOAP-ENV:Envelope>]]
-- wrk itself counts answers that are not 2xx; the benchmark script fails on any.
