#include "service/uSOAPMessage.h"

#include <gtest/gtest.h>

namespace dct {
namespace {

std::string Envelope(const std::string& body, const std::string& extraNS = "") {
  return "<?xml version=\"1.0\"?><e:Envelope xmlns:e=\"http://schemas.xmlsoap.org/soap/envelope/\""
         " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"" +
         extraNS + "><e:Body>" + body + "</e:Body></e:Envelope>";
}

std::string FaultOf(std::string text) {
  try {
    TSOAPRequest request(text);
  } catch (const ESOAPFault& e) {
    return e.what();
  }
  return "";
}

// suds binds the envelope namespace to two prefixes and puts the operation's on the root.
TEST(SOAPRequestTest, ResolvesPrefixesByNamespace) {
  std::string body =
      "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\""
      " xmlns:ns0=\"http://schemas.xmlsoap.org/soap/envelope/\" xmlns:ns3=\"urn:x\">"
      "<SOAP-ENV:Header/><ns0:Body><ns3:Op><A>1</A></ns3:Op></ns0:Body></SOAP-ENV:Envelope>";
  TSOAPRequest request(body);
  EXPECT_EQ(request.OperationName(), "Op");
  EXPECT_EQ(request.OperationNamespace(), "urn:x");
  EXPECT_EQ(request.String("A"), "1");

  // Default namespace declared on the operation itself; an inner redeclaration wins.
  std::string zeep = Envelope("<Op xmlns=\"urn:y\"><A xmlns=\"urn:z\">2</A></Op>");
  TSOAPRequest second(zeep);
  EXPECT_EQ(second.OperationNamespace(), "urn:y");
  EXPECT_EQ(second.String("A"), "2");
}

TEST(SOAPRequestTest, ReadsParametersByNameWithOrWithoutTypes) {
  std::string body = Envelope(
      "<o:Op xmlns:o=\"urn:x\">"
      "<S xsi:type=\"ns2:string\" xmlns:ns2=\"http://www.w3.org/2001/XMLSchema\">a &amp; b</S>"
      "<T>l1&#13;\nl2</T><U>l1\r\nl2</U><C>x<![CDATA[<y>]]>z</C><E/><N xsi:nil=\"true\">q</N>"
      "<B1> True </B1><B2>0</B2><B3>FALSE</B3><B4>1</B4>"
      "</o:Op>");
  TSOAPRequest r(body);
  EXPECT_EQ(r.String("S"), "a & b");
  EXPECT_EQ(r.String("T"), "l1\r\nl2");  // a CR reference is kept
  EXPECT_EQ(r.String("U"), "l1\nl2");    // a raw CR LF is a line end
  EXPECT_EQ(r.String("C"), "x<y>z");
  ASSERT_TRUE(r.Text("E").has_value());
  EXPECT_EQ(*r.Text("E"), "");
  EXPECT_FALSE(r.Text("N").has_value());
  EXPECT_FALSE(r.Text("Missing").has_value());
  EXPECT_TRUE(r.Boolean("B1"));
  EXPECT_FALSE(r.Boolean("B2"));
  EXPECT_FALSE(r.Boolean("B3"));
  EXPECT_TRUE(r.Boolean("B4"));
  EXPECT_FALSE(r.Boolean("Missing"));
}

TEST(SOAPRequestTest, LargeTextIsAViewIntoTheRequest) {
  std::string body = Envelope("<o:Op xmlns:o=\"urn:x\"><P>" + std::string(100000, 'x') + "&lt;</P></o:Op>");
  const char* begin = body.data();
  const char* end = begin + body.size();
  TSOAPRequest r(body);
  const std::string_view text = *r.Text("P");
  EXPECT_EQ(text.size(), 100001u);
  EXPECT_EQ(text.back(), '<');
  EXPECT_TRUE(text.data() >= begin && text.data() < end);
}

TEST(SOAPRequestTest, FollowsMultiReferences) {
  std::string body = Envelope(
      "<o:Op xmlns:o=\"urn:x\"><P href=\"#id1\"/><Q href=\"#id2\"/></o:Op>"
      "<multiRef id=\"id1\" xsi:type=\"xsd:string\">one</multiRef>"
      "<multiRef id=\"id2\" href=\"#id1\"/>");
  TSOAPRequest r(body);
  EXPECT_EQ(r.String("P"), "one");
  EXPECT_EQ(r.String("Q"), "one");

  std::string loop = Envelope(
      "<o:Op xmlns:o=\"urn:x\"><P href=\"#a\"/></o:Op><m id=\"a\" href=\"#b\"/>"
      "<m id=\"b\" href=\"#a\"/>");
  TSOAPRequest l(loop);
  EXPECT_THROW(l.Text("P"), ESOAPFault);
  std::string dangling = Envelope("<o:Op xmlns:o=\"urn:x\"><P href=\"#none\"/></o:Op>");
  TSOAPRequest d(dangling);
  EXPECT_THROW(d.Text("P"), ESOAPFault);
  std::string external = Envelope("<o:Op xmlns:o=\"urn:x\"><P href=\"http://x/y\"/></o:Op>");
  TSOAPRequest x(external);
  EXPECT_THROW(x.Text("P"), ESOAPFault);
}

// An envelope's tree is bounded before it is built: by its count of elements, attributes
// and CDATA sections, not by its size.
TEST(SOAPRequestTest, MarkupIsCountedBeforeTheTreeIsBuilt) {
  const size_t limit = TSOAPRequest::kMaxMarkup;
  auto withParts = [](size_t elements, const std::string& part) {
    std::string parts;
    for (size_t i = 0; i < elements; ++i) parts += part;
    return Envelope("<o:Op xmlns:o=\"urn:x\"><P>1</P>" + parts + "</o:Op>");
  };
  // The envelope, its namespace declarations, Body, Op and P: 7 items.
  EXPECT_EQ(FaultOf(withParts(limit - 7, "<a/>")), "");
  EXPECT_NE(FaultOf(withParts(limit - 6, "<a/>x")), "");
  EXPECT_NE(FaultOf(withParts(limit / 2, "<a b='1'/>")), "");  // attributes count
  EXPECT_NE(FaultOf(withParts(limit, "<![CDATA[x]]>")), "");   // and CDATA sections
  EXPECT_EQ(FaultOf(withParts(limit, "<!-- <a/> -->")), "") << "comments make no node";
  // Markup inside a CDATA section or a quoted value is text: one item however long.
  std::string cdata = "<![CDATA[";
  for (size_t i = 0; i < limit; ++i) cdata += "<elm t=\"S\">x</elm>";
  std::string body = Envelope("<o:Op xmlns:o=\"urn:x\"><P a='x=y>z'>" + cdata + "]]></P></o:Op>");
  TSOAPRequest r(body);
  EXPECT_EQ(r.Text("P")->size(), limit * 18);
}

TEST(SOAPRequestTest, RefusesWhatCannotBeDecoded) {
  std::string deep = "<o:Op xmlns:o=\"urn:x\">";
  for (int i = 0; i < TSOAPRequest::kMaxDepth; ++i) deep += "<d>";
  for (int i = 0; i < TSOAPRequest::kMaxDepth; ++i) deep += "</d>";
  deep += "</o:Op>";
  const std::string cases[] = {
      "",
      "not xml",
      Envelope("<o:Op xmlns:o=\"urn:x\"><P>1</P>"),  // unclosed
      "<!DOCTYPE e [<!ENTITY a \"aaaa\"><!ENTITY b \"&a;&a;&a;\">]>" +
          Envelope("<o:Op xmlns:o=\"urn:x\"><P>&b;</P></o:Op>"),
      Envelope(deep),
      "<e:Envelope xmlns:e=\"http://www.w3.org/2003/05/soap-envelope\"><e:Body><o/></e:Body>"
      "</e:Envelope>",
      "<Envelope><Body><o/></Body></Envelope>",
      "<e:Envelope xmlns:e=\"http://schemas.xmlsoap.org/soap/envelope/\"><e:Header/>"
      "</e:Envelope>",
      Envelope(""),
      Envelope(" "),
  };
  for (const std::string& c : cases) EXPECT_NE(FaultOf(c), "") << c;

  std::string body = Envelope("<o:Op xmlns:o=\"urn:x\"><S><i>1</i></S><B>yes</B></o:Op>");
  TSOAPRequest r(body);
  EXPECT_THROW(r.Text("S"), ESOAPFault);
  try {
    r.Boolean("B");
    ADD_FAILURE() << "no fault";
  } catch (const ESOAPFault& e) {
    EXPECT_NE(std::string(e.what()).find("'yes'"), std::string::npos) << e.what();
  }
}

// A request whose bytes are not well-formed UTF-8, or that refers to a character XML does not
// allow, is refused whole, wherever the fault stands: nothing of it may reach a command, or
// come back in an answer that no client could then read.
TEST(SOAPRequestTest, RefusesTextThatIsNotUTF8XMLAnywhere) {
  const std::string bad[] = {
      "\x80",     "\xFF\xFE", "\xC0\xAF",    "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xF8\x88\x80\x80\x80",
      "\xE2\x82", "\x01",     "\xEF\xBF\xBF"};
  const std::string places[] = {
      Envelope("<o:Op xmlns:o=\"urn:x\"><P>ab@</P></o:Op>"),
      Envelope("<o:Op xmlns:o=\"urn:x\"><P xsi:type=\"@\">a</P></o:Op>"),
      Envelope("<o:Op xmlns:o=\"urn:x\"><!--@--><P>a</P></o:Op>"),
      Envelope("<o:Op xmlns:o=\"urn:x\"><P><![CDATA[@]]></P></o:Op>"),
      Envelope("<o:Op xmlns:o=\"urn:x\"><P>a</P></o:Op>") + "@",
  };
  for (const std::string& place : places)
    for (const std::string& b : bad) {
      std::string text = place;
      text.replace(text.find('@'), 1, b);
      EXPECT_NE(FaultOf(text), "") << text;
    }
  EXPECT_NE(FaultOf(Envelope("<o:Op xmlns:o=\"urn:x\"><P>ab</P></o:Op>") + "\xC3"), "");
  for (const char* ref : {"&#xD800;", "&#xFFFE;", "&#x110000;", "&#0;", "&#1;", "&#x1F;"}) {
    const std::string inText = Envelope(std::string("<o:Op xmlns:o=\"urn:x\"><P>") + ref + "</P></o:Op>");
    EXPECT_NE(FaultOf(inText), "") << ref;
    const std::string inAttr =
        Envelope(std::string("<o:Op xmlns:o=\"urn:x\"><P a=\"") + ref + "\">x</P></o:Op>");
    EXPECT_NE(FaultOf(inAttr), "") << ref;
  }
  // Good text and the neighbours of the refused ranges pass.
  std::string good =
      Envelope("<o:Op xmlns:o=\"urn:x\"><P>Ж\xF0\x9F\x98\x80&#xD7FF;&#xE000;&#x10FFFF;</P></o:Op>");
  TSOAPRequest r(good);
  EXPECT_EQ(r.String("P"), "Ж\xF0\x9F\x98\x80\xED\x9F\xBF\xEE\x80\x80\xF4\x8F\xBF\xBF");
}

// String parts keep their white space as sent: a part of blanks is not an empty part.
TEST(SOAPRequestTest, PartsOfWhiteSpaceOnlyKeepIt) {
  std::string body = Envelope(
      "<o:Op xmlns:o=\"urn:x\">\n  <A> </A>\n  <B>\t\r\n </B><C></C><D>  <![CDATA[x]]> "
      "</D><E>&#32;</E></o:Op>");
  TSOAPRequest r(body);
  EXPECT_EQ(r.String("A"), " ");
  EXPECT_EQ(r.String("B"), "\t\n ");
  EXPECT_EQ(r.String("C"), "");
  EXPECT_EQ(r.String("D"), "  x ");
  EXPECT_EQ(r.String("E"), " ");
}

// Nesting just inside the limit is still an ordinary request.
TEST(SOAPRequestTest, DepthLimitIsNotOffByOne) {
  std::string inner;
  const int free = TSOAPRequest::kMaxDepth - 3;  // Envelope, Body and Op take three levels
  for (int i = 0; i < free - 1; ++i) inner += "<d>";
  inner += "x";
  for (int i = 0; i < free - 1; ++i) inner += "</d>";
  EXPECT_EQ(FaultOf(Envelope("<o:Op xmlns:o=\"urn:x\">" + inner + "</o:Op>")), "");
  EXPECT_NE(FaultOf(Envelope("<o:Op xmlns:o=\"urn:x\"><d>" + inner + "</d></o:Op>")), "");
}

TEST(SOAPResponseWriterTest, AnswerHasTypedPartsInOrder) {
  TSOAPResponseWriter w(MobileDCTInterface(), "ExecuteCommand");
  w.Boolean("return", true);
  w.String("OutputParameters", "<sa>\r\n&</sa>");
  w.Int("ResultCode", -5);
  w.String("ResultDescription", "Нет ошибок");
  std::string text = w.Finish();

  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string(text.c_str()));
  const pugi::xml_node env = doc.document_element();
  EXPECT_STREQ(env.name(), "SOAP-ENV:Envelope");
  EXPECT_STREQ(env.attribute("xmlns:xsd").value(), kXMLSchemaNS);
  EXPECT_STREQ(env.attribute("xmlns:xsi").value(), kXMLSchemaInstanceNS);
  EXPECT_STREQ(env.attribute("xmlns:SOAP-ENC").value(), kSoapEncodingNS);
  const pugi::xml_node body = env.child("SOAP-ENV:Body");
  EXPECT_STREQ(body.attribute("SOAP-ENV:encodingStyle").value(), kSoapEncodingNS);
  const pugi::xml_node op = body.first_child();
  EXPECT_EQ(LocalNameOf(op.name()), "ExecuteCommandResponse");
  EXPECT_EQ(NamespaceOf(op), "urn:uSvcIntf-IMobileDCT");
  const char* expected[][3] = {{"return", "xsd:boolean", "true"},
                               {"OutputParameters", "xsd:string", "<sa>\r\n&</sa>"},
                               {"ResultCode", "xsd:int", "-5"},
                               {"ResultDescription", "xsd:string", "Нет ошибок"}};
  pugi::xml_node part = op.first_child();
  for (const auto& e : expected) {
    ASSERT_TRUE(part) << e[0];
    EXPECT_STREQ(part.name(), e[0]);
    EXPECT_STREQ(part.attribute("xsi:type").value(), e[1]);
    EXPECT_STREQ(part.child_value(), e[2]);
    part = part.next_sibling();
  }
  EXPECT_FALSE(part);
}

TEST(SOAPResponseWriterTest, Faults) {
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string(SOAPFaultEnvelope("bad <x>").c_str()));
  pugi::xml_node fault = doc.document_element().child("SOAP-ENV:Body").child("SOAP-ENV:Fault");
  EXPECT_STREQ(fault.child_value("faultcode"), "SOAP-ENV:Server");
  EXPECT_STREQ(fault.child_value("faultstring"), "bad <x>");
  EXPECT_TRUE(fault.child("faultactor"));
  EXPECT_STREQ(doc.document_element().attribute("xmlns:xsd").value(), kXMLSchemaNS);

  EXPECT_EQ(SOAPFixedFault("m&"),
            "<?xml version=\"1.0\" encoding='UTF-8'?><SOAP-ENV:Envelope "
            "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\"><SOAP-ENV:Body>"
            "<SOAP-ENV:Fault><faultcode>SOAP-ENV:Server</faultcode><faultstring>m&amp;"
            "</faultstring></SOAP-ENV:Fault></SOAP-ENV:Body></SOAP-ENV:Envelope>");
}

}  // namespace
}  // namespace dct
